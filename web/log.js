// The output log: the rows the caster lists (at most 101), each in its colour.
export class LogView {
  // onOpen(name): a double-clicked row opens the debug console on the connection of that name.
  constructor(element, onOpen) {
    this.element = element;
    this.onOpen = onOpen;
    this.scrollPending = false;
  }

  reset(rows) {
    this.element.replaceChildren();
    rows.forEach((row) => this.add(row));
  }

  // One line; cleared when the caster emptied its list before listing it.
  apply(row, cleared) {
    if (cleared) this.element.replaceChildren();
    this.add(row);
  }

  add(row) {
    const line = document.createElement('div');
    for (const text of [row.time, row.name, row.text]) {
      const span = document.createElement('span');
      span.textContent = text;
      line.append(span);
    }
    // 0x00BBGGRR; 0 is the default colour.
    if (row.colour !== 0) {
      const c = row.colour;
      line.style.color = `rgb(${c & 255}, ${(c >> 8) & 255}, ${(c >> 16) & 255})`;
    }
    if (row.name) line.addEventListener('dblclick', () => this.onOpen?.(row.name));
    this.element.append(line);
    // Scrolled to the newest line once a frame: reading scrollHeight after each line would lay the
    // page out once per line when thousands of connections come at once.
    if (this.scrollPending) return;
    this.scrollPending = true;
    requestAnimationFrame(() => {
      this.scrollPending = false;
      this.element.scrollTop = this.element.scrollHeight;
    });
  }
}
