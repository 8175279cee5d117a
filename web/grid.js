// The connection grid: rows keyed by socket, rendered virtually (only the visible rows exist in the
// DOM), so that ten thousand connections stay responsive.
const ROW_HEIGHT = 20;
const WIDTHS = [60, 90, 95, 90, 115, 50, 40, 40, 40, 80, 50, 40, 50, 80, 85, 250];

export class GridView {
  constructor(head, body, spacer, onClose) {
    this.head = head;
    this.body = body;
    this.spacer = spacer;
    this.onClose = onClose;
    this.rows = new Map();  // socket -> {socket, icon, cells}
    this.order = [];        // sockets in ascending order
    this.pool = [];         // row elements, reused while scrolling
    this.selected = null;
    this.pending = false;
    body.addEventListener('scroll', () => this.schedule());
    window.addEventListener('resize', () => this.schedule());
    body.addEventListener('keydown', (event) => this.onKey(event));
  }

  setColumns(titles) {
    this.head.replaceChildren(this.cell('', 8, 'icon'));
    titles.forEach((title, i) => this.head.append(this.cell(title, WIDTHS[i] ?? 80)));
  }

  // A full list of rows (snapshot).
  reset(rows) {
    this.rows = new Map(rows.map((row) => [row.socket, row]));
    this.sortKeys();
    this.schedule();
  }

  // One batch: changed rows and removed sockets.
  apply(changed, removed) {
    let keysChanged = false;
    for (const socket of removed) keysChanged = this.rows.delete(socket) || keysChanged;
    for (const row of changed) {
      if (!this.rows.has(row.socket)) keysChanged = true;
      this.rows.set(row.socket, row);
    }
    if (keysChanged) this.sortKeys();
    this.schedule();
  }

  sortKeys() {
    this.order = [...this.rows.keys()].sort((a, b) => a - b);
    this.spacer.style.height = `${this.order.length * ROW_HEIGHT}px`;
  }

  schedule() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => {
      this.pending = false;
      this.render();
    });
  }

  render() {
    const first = Math.floor(this.body.scrollTop / ROW_HEIGHT);
    const count = Math.ceil(this.body.clientHeight / ROW_HEIGHT) + 1;
    const visible = this.order.slice(first, first + count);
    while (this.pool.length < visible.length) {
      const element = document.createElement('div');
      element.className = 'grid-row';
      element.append(this.cell('', 8, 'icon'));
      WIDTHS.forEach((width) => element.append(this.cell('', width)));
      element.addEventListener('click', () => this.select(Number(element.dataset.socket)));
      // A double-click opens the debug console on that connection.
      element.addEventListener('dblclick', () => this.onOpen?.(Number(element.dataset.socket)));
      // A double-click with the right button shows the station dialog.
      element.addEventListener('mousedown', (event) => {
        if (event.button === 2 && event.detail === 2) this.onStation?.(Number(element.dataset.socket));
      });
      element.addEventListener('contextmenu', (event) => event.preventDefault());
      this.spacer.append(element);
      this.pool.push(element);
    }
    this.pool.forEach((element, i) => {
      const row = this.rows.get(visible[i]);
      element.hidden = row === undefined;
      if (!row) return;
      element.dataset.socket = String(row.socket);
      element.style.top = `${(first + i) * ROW_HEIGHT}px`;
      element.classList.toggle('selected', row.socket === this.selected);
      const cells = element.children;
      cells[0].className = `icon icon-${row.icon}`;
      row.cells.forEach((text, c) => {
        if (cells[c + 1].textContent !== text) cells[c + 1].textContent = text;
      });
    });
  }

  select(socket) {
    this.selected = socket;
    this.body.focus();
    this.schedule();
  }

  onKey(event) {
    if (event.key !== 'Delete' || this.selected === null) return;
    const row = this.rows.get(this.selected);
    if (row && window.confirm(`关闭仪器 ${row.cells[1]}--${row.cells[0]} 吗？`)) this.onClose(row.socket);
  }

  cell(text, width, className = '') {
    const span = document.createElement('span');
    span.textContent = text;
    span.style.width = `${width}px`;
    if (className) span.className = className;
    return span;
  }
}
