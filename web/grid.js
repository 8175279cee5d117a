// The connection grid, rendered virtually: the caster sends the number of rows and only the rows of
// the window the page asks for (those on screen and a screen either side), and only those exist in
// the DOM, so that ten thousand connections cost the page and the caster next to nothing.
const ROW_HEIGHT = 20;
// A scrolling page asks for a new window at most this often; the caster composes each one it asks for.
const ASK_INTERVAL_MS = 100;
const WIDTHS = [60, 90, 95, 90, 115, 50, 40, 40, 40, 80, 50, 40, 50, 80, 85, 250];

export class GridView {
  constructor(head, body, spacer, onClose) {
    this.head = head;
    this.body = body;
    this.spacer = spacer;
    this.onClose = onClose;
    this.total = 0;         // rows in the whole grid
    this.first = 0;         // row number of rows[0]
    this.rows = [];         // the window's rows: {socket, icon, cells}, in socket order
    this.asked = '';        // the window last asked for, "first:count"
    this.askedAt = -Infinity;   // when it was asked for (performance.now())
    this.askTimer = null;   // a later ask, while the last one is too recent
    this.requestWindow = null;  // (first, count) => sends the request; set by the page
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

  // A new event socket: the window the page showed is asked for again.
  reconnected() {
    this.asked = '';
    this.schedule();
  }

  // The rows of one window and the number of all rows.
  apply(total, first, rows) {
    this.total = total;
    this.first = first;
    this.rows = rows;
    this.spacer.style.height = `${total * ROW_HEIGHT}px`;
    this.schedule();
  }

  // Asks for the rows on screen and a screen either side when the window held does not cover them.
  ask(first, count) {
    const end = Math.min(first + count, this.total);
    const covered = first >= this.first && end <= this.first + this.rows.length;
    const from = Math.max(0, first - count);
    const key = `${from}:${count * 3}`;
    if ((covered && this.asked !== '') || key === this.asked || !this.requestWindow) return;
    const wait = this.askedAt + ASK_INTERVAL_MS - performance.now();
    if (wait > 0) {
      // The window on screen when the wait is over is the one asked for.
      this.askTimer ??= setTimeout(() => {
        this.askTimer = null;
        this.schedule();
      }, wait);
      return;
    }
    if (this.requestWindow(from, count * 3)) {
      this.asked = key;
      this.askedAt = performance.now();
    }
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
    this.ask(first, count);
    const shown = Math.max(0, Math.min(count, this.total - first));
    while (this.pool.length < shown) {
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
      const row = i < shown ? this.rows[first + i - this.first] : undefined;
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
    const row = this.rows.find((r) => r.socket === this.selected);
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
