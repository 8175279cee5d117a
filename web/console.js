// The debug console: the watched connection's lines, its two modes, and the text to send to it.
// Lines come from a connection and are set as text only.
export class ConsoleView {
  constructor(root, post) {
    this.root = root;
    this.post = post;
    this.socket = root.querySelector('.console-socket');
    this.name = root.querySelector('.console-name');
    this.lines = root.querySelector('.console-lines');
    this.binary = root.querySelector('.console-binary');
    this.decoder = root.querySelector('.console-decoder');
    this.text = root.querySelector('.console-text');
    const modes = () => post('/api/console/mode', { binary: this.binary.checked, decoder: this.decoder.checked });
    this.binary.addEventListener('change', modes);
    this.decoder.addEventListener('change', modes);
    root.querySelector('.console-clear').addEventListener('click', () => post('/api/console/clear'));
    root.querySelector('.console-send').addEventListener('click', () => {
      if (this.text.value !== '') post('/api/console/send', { text: this.text.value });
    });
    root.querySelector('.console-hide').addEventListener('click', () => { root.hidden = true; });
  }

  open(socket) {
    this.post('/api/console/open', { socket });
  }

  show(message) {
    this.root.hidden = !message.shown;
    this.socket.textContent = String(message.socket);
    this.name.textContent = message.name;
    this.binary.checked = message.binary;
    this.decoder.checked = message.decoder;
    const atEnd = this.lines.scrollTop + this.lines.clientHeight >= this.lines.scrollHeight - 4;
    this.lines.replaceChildren(...message.lines.map((line) => {
      const div = document.createElement('div');
      div.textContent = line;
      return div;
    }));
    if (atEnd || message.lines.length >= 13) this.lines.scrollTop = this.lines.scrollHeight;
  }
}
