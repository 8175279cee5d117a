// The settings form: four group boxes drawn from the caster's layout and texts, the values of its
// copy of the settings, the enabling rules, and Save / start / stop. Texts go in as text only.
const SQL_CHECK = '1020';
const SQL_FIELDS = ['1028', '1029', '1030', '1031', '1032'];
const ACTIONS = { 1009: 'save', 1036: 'start', 1037: 'stop' };
const TAB_TEXT = { settings: 0, grid: 1, map: 2 };  // parts of the tabs' text

export class SettingsView {
  constructor(root) {
    this.root = root;
    this.controls = new Map();  // id -> { kind, element, error }
    this.enabled = {};
    this.built = false;
    root.addEventListener('submit', (event) => event.preventDefault());  // Enter in a field sends nothing
  }

  // Fetches the form when the tab is first opened; later it is kept up to date by the answers.
  async open() {
    if (this.built) return;
    const response = await fetch('/api/settings');
    if (response.ok) this.render(await response.json());
  }

  render(state) {
    if (!this.built) this.build(state);
    this.showValues(state.values);
    this.applyEnabled(state.enabled);
    this.showErrors(state.errors ?? []);
  }

  build(state) {
    const texts = new Map(state.texts.controls.map((c) => [String(c.id), c.text]));
    const boxes = state.layout.map((group) => {
      const box = document.createElement('fieldset');
      box.className = `settings-group group-${group.id}`;
      const legend = document.createElement('legend');
      legend.textContent = texts.get(String(group.id)) ?? '';
      box.append(legend);
      for (const control of group.controls) box.append(this.buildControl(String(control.id), control.kind, texts));
      return box;
    });
    this.root.replaceChildren(...boxes);
    this.built = true;
  }

  buildControl(id, kind, texts) {
    const row = document.createElement('div');
    row.className = `settings-row kind-${kind}`;
    row.dataset.id = id;
    const caption = texts.get(id) ?? '';
    let element;
    if (kind === 'button') {
      element = document.createElement('button');
      element.type = 'button';
      element.textContent = caption;
      element.addEventListener('click', () => this.act(ACTIONS[id]));
      row.append(element);
    } else if (kind === 'check') {
      element = document.createElement('input');
      element.type = 'checkbox';
      const label = document.createElement('label');
      label.append(element, document.createTextNode(caption));
      row.append(label);
      if (id === SQL_CHECK) element.addEventListener('change', () => this.applySqlRule());
    } else {
      const label = document.createElement('label');
      label.textContent = caption;
      if (kind === 'shown') {
        element = document.createElement('output');
      } else {
        element = document.createElement('input');
        element.type = kind === 'password' ? 'password' : 'text';
        element.autocomplete = 'off';
        element.id = `setting-${id}`;
        label.htmlFor = element.id;
      }
      row.append(label, element);
    }
    element.dataset.id = id;
    const error = document.createElement('span');
    error.className = 'settings-error';
    row.append(error);
    this.controls.set(id, { kind, element, error });
    return row;
  }

  showValues(values) {
    for (const [id, value] of Object.entries(values)) {
      const control = this.controls.get(id);
      if (!control) continue;
      if (control.kind === 'check') control.element.checked = value === true;
      else if (control.kind === 'shown') control.element.textContent = String(value);
      else control.element.value = String(value);
    }
  }

  // The caster's rules; the five SQL fields follow the "使用SQL" box as it is checked in the page.
  applyEnabled(enabled) {
    this.enabled = enabled;
    for (const [id, on] of Object.entries(enabled)) {
      const control = this.controls.get(id);
      if (control && control.kind !== 'shown') control.element.disabled = !on;
    }
    this.applySqlRule();
  }

  applySqlRule() {
    const box = this.controls.get(SQL_CHECK)?.element;
    if (!box) return;
    const on = this.enabled[SQL_CHECK] === true && box.checked;
    for (const id of SQL_FIELDS) {
      const control = this.controls.get(id);
      if (control) control.element.disabled = !on;
    }
  }

  showErrors(errors) {
    for (const control of this.controls.values()) control.error.textContent = '';
    for (const error of errors) {
      const control = this.controls.get(String(error.id));
      if (control) control.error.textContent = error.text;
    }
  }

  // The entries as typed; check boxes as true or false.
  values() {
    const values = {};
    for (const [id, control] of this.controls) {
      if (control.kind === 'check') values[id] = control.element.checked;
      else if (control.kind !== 'shown' && control.kind !== 'button') values[id] = control.element.value;
    }
    return values;
  }

  async act(action) {
    const body = action === 'stop' ? {} : { values: this.values() };
    const response = await fetch(`/api/settings/${action}`, {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(body),
    });
    if (response.ok) this.render(await response.json());
    else console.warn(action, response.status);
    // Counts the answers drawn, so that a script can wait for an action to show its result.
    this.root.dataset.answers = String(Number(this.root.dataset.answers ?? 0) + 1);
  }

  // A changed service state (from the toolbar or this form).
  onEvent(message) {
    if (this.built) this.applyEnabled(message.enabled);
  }
}

// Switches the view tabs: each tab name shows its elements and hides the others'.
export function setupTabs(nav, views, onOpen) {
  const tabs = [...nav.querySelectorAll('.tab')];
  for (const tab of tabs) {
    tab.addEventListener('click', () => {
      for (const other of tabs) other.classList.toggle('active', other === tab);
      for (const [name, elements] of Object.entries(views)) {
        for (const element of elements) element.hidden = name !== tab.dataset.tab;
      }
      onOpen(tab.dataset.tab);
    });
  }
}

// Tab captions from the caster's texts.
export function showTabCaptions(nav, captions) {
  for (const tab of nav.querySelectorAll('.tab')) {
    const caption = captions?.[TAB_TEXT[tab.dataset.tab]];
    if (caption) tab.textContent = caption;
  }
}
