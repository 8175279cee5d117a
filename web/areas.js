// The work-area dialogs: the list of work areas with the fields of the selected one, the name asked
// for a new one, and the corners picked on the map. Every request answers with the dialog's state,
// which is drawn again; names are set as text only.
// Control and index in bounds (B1, B2, L1, L2), upper-left corner first as the map shows it.
const CORNERS = [[1049, 1], [1050, 3], [1047, 0], [1048, 2]];
const PARAMETERS = [[1052, 'dx'], [1053, 'dy'], [1054, 'dz'], [1055, 'rx'], [1056, 'ry'], [1057, 'rz'], [1058, 'sf']];
const FLAGS = [[1062, 'useSeven'], [1064, 'useUndulation']];

function element(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

export class AreaDialog {
  // startPick(onPicked) switches the map to picking and shows it.
  constructor(root, startPick) {
    this.root = root;
    this.startPick = startPick;
    this.state = null;
    this.inputs = new Map();
    this.build();
  }

  build() {
    this.caption = element('h3');
    this.list = element('select', 'areas-list');
    this.list.size = 10;
    this.list.addEventListener('change', () => this.request('select', { name: this.list.value }));
    const fields = element('div', 'areas-fields');
    this.labels = new Map();
    const row = (id, input) => {
      const label = element('label', 'areas-row');
      const text = element('span');
      this.labels.set(id, text);
      label.append(text, input);
      fields.append(label);
      this.inputs.set(id, input);
    };
    this.name = element('output');
    const nameLabel = element('label', 'areas-row');
    const nameText = element('span');
    this.labels.set(1051, nameText);
    nameLabel.append(nameText, this.name);
    fields.append(nameLabel);
    for (const [id] of [...CORNERS, ...PARAMETERS]) {
      const input = element('input');
      input.type = 'text';
      input.inputMode = 'decimal';
      row(id, input);
    }
    for (const [id] of FLAGS) {
      const box = element('input');
      box.type = 'checkbox';
      row(id, box);
    }
    const buttons = element('div', 'areas-buttons');
    this.buttons = new Map();
    for (const [id, act] of [[1044, () => this.askName()], [1045, () => this.save()],
      [1043, () => this.remove()], [1046, () => this.pick()], [1, () => this.close()]]) {
      const b = element('button');
      b.type = 'button';
      b.addEventListener('click', act);
      buttons.append(b);
      this.buttons.set(id, b);
    }
    this.error = element('div', 'areas-error');
    const body = element('div', 'areas-body');
    body.append(this.list, fields);
    this.root.append(this.caption, body, buttons, this.error);

    this.nameDialog = element('dialog', 'areas-name');
    this.nameCaption = element('h3');
    this.nameLabel = element('span');
    this.nameInput = element('input');
    this.nameInput.maxLength = 250;
    this.nameError = element('div', 'areas-error');
    this.nameOk = element('button');
    this.nameCancel = element('button');
    this.nameOk.type = this.nameCancel.type = 'button';
    this.nameOk.addEventListener('click', () => this.add());
    this.nameCancel.addEventListener('click', () => this.nameDialog.close());
    const label = element('label', 'areas-row');
    label.append(this.nameLabel, this.nameInput);
    this.nameDialog.append(this.nameCaption, label, this.nameError, this.nameOk, this.nameCancel);
    this.root.append(this.nameDialog);
  }

  async request(action, body) {
    const response = await fetch(`/api/areas/${action}`, {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(body ?? {}),
    });
    const state = await response.json().catch(() => ({ error: `HTTP ${response.status}` }));
    if (state.names) this.show(state);
    else this.error.textContent = state.error ?? '';
    return response.ok;
  }

  open() {
    if (!this.root.open) this.root.show();
    return this.request('open');
  }

  close() {
    this.root.close();
    return this.request('close');
  }

  show(state) {
    this.state = state;
    const texts = state.texts;
    this.caption.textContent = texts.caption;
    for (const [id, span] of this.labels) span.textContent = texts.controls[id] ?? '';
    for (const [id, b] of this.buttons) b.textContent = texts.controls[id] ?? '';
    this.list.replaceChildren(...state.names.map((name) => {
      const option = element('option', '', name);
      option.value = name;
      option.selected = name === state.selected;
      return option;
    }));
    this.name.textContent = state.selected;
    for (const [id, index] of CORNERS) this.inputs.get(id).value = String(state.bounds[index]);
    for (const [id, key] of PARAMETERS) this.inputs.get(id).value = String(state.parameters[key]);
    for (const [id, key] of FLAGS) this.inputs.get(id).checked = state.parameters[key] === 1;
    this.error.textContent = state.error ?? '';
    const n = state.nameTexts;
    this.nameCaption.textContent = n.caption;
    this.nameLabel.textContent = n.controls['1051'] ?? '';
    this.nameOk.textContent = n.controls['1'] ?? 'OK';
    this.nameCancel.textContent = n.controls['2'] ?? '';
  }

  askName() {
    this.nameInput.value = '';
    this.nameError.textContent = '';
    this.nameDialog.showModal();
  }

  // The name dialog stays open on a refused name ("Repeat Name").
  async add() {
    const ok = await this.request('add', { name: this.nameInput.value });
    if (ok) this.nameDialog.close();
    else this.nameError.textContent = this.state?.error ?? this.error.textContent;
  }

  save() {
    const number = (id) => Number(this.inputs.get(id).value);
    const bounds = [0, 0, 0, 0];
    for (const [id, index] of CORNERS) bounds[index] = number(id);
    const parameters = {};
    for (const [id, key] of PARAMETERS) parameters[key] = number(id);
    for (const [id, key] of FLAGS) parameters[key] = this.inputs.get(id).checked ? 1 : 0;
    if ([...bounds, ...Object.values(parameters)].some((v) => !Number.isFinite(v))) {
      this.error.textContent = 'Please enter numbers';
      return;
    }
    this.request('save', { bounds, parameters });
  }

  remove() {
    if (this.state?.selected && window.confirm(`${this.buttons.get(1043).textContent} ${this.state.selected}?`)) {
      this.request('delete');
    }
  }

  pick() {
    this.startPick((corners) => this.request('pick', corners));
  }
}
