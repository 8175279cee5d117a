// The account page: the accounts of the caster's database in a table with a search, a form that adds
// and edits every column, delete after a confirmation, reset of the used time, and a mark on the
// accounts connected now. Every value from the database is set as text, never as markup.

const REFRESH_MS = 5000;
const SEARCH_DELAY_MS = 250;

// The denied-services bits, from 0x200 down, with their labels.
const SERVICES = [
  [0x200, 'DIRECT'], [0x100, '[RTCA]'], [0x080, '[RTCM23]'], [0x040, '[CMR]'], [0x020, '[RTCM30]'],
  [0x010, '[RTD]'], [0x008, 'RTCM23'], [0x004, 'CMR'], [0x002, 'RTCM30'], [0x001, 'RTD'],
];

// The form's fields: key, label, input type, and the attributes of the input.
const FIELDS = [
  ['name', 'Name', 'text', { maxLength: 50, required: true }],
  ['password', 'Password', 'text', { maxLength: 50, required: true }],
  ['allowedSeconds', 'Allowed time (s, 0 = unlimited)', 'number', { min: 0 }],
  ['usedSeconds', 'Used time (s)', 'number', { min: 0 }],
  ['validUntil', 'Last valid day (YYYYMMDD, 0 = no end)', 'text', { maxLength: 8, pattern: '0|\\d{8}' }],
  ['organisation', 'Organisation', 'text', { maxLength: 255 }],
  ['contact', 'Contact', 'text', { maxLength: 255 }],
  ['telephone', 'Telephone', 'text', { maxLength: 255 }],
  ['area', 'Work area', 'text', { maxLength: 255 }],
  ['serialBinding', 'Bound to the serial', 'checkbox', {}],
  ['serial', 'Serial', 'text', { maxLength: 200 }],
  ['email', 'E-mail', 'text', { maxLength: 200 }],
];

// The table's columns after the online mark: title and how a cell shows an account.
const COLUMNS = [
  ['Name', (a) => a.name],
  ['Allowed (s)', (a) => (a.allowedSeconds ? String(a.allowedSeconds) : 'unlimited')],
  ['Used (s)', (a) => String(a.usedSeconds)],
  ['Valid until', (a) => (a.validUntil ? String(a.validUntil) : '—')],
  ['Services', (a) => serviceText(a.deniedServices)],
  ['Organisation', (a) => a.organisation],
  ['Contact', (a) => a.contact],
  ['Telephone', (a) => a.telephone],
  ['Work area', (a) => a.area],
  ['Serial', (a) => (a.serialBinding ? `${a.serial} (bound)` : a.serial)],
  ['E-mail', (a) => a.email],
];

function serviceText(denied) {
  if (!denied) return 'all';
  const allowed = SERVICES.filter(([bit]) => !(denied & bit)).map(([, label]) => label);
  return allowed.length ? allowed.join(' ') : 'none';
}

function element(tag, props = {}, children = []) {
  const node = document.createElement(tag);
  Object.assign(node, props);
  node.append(...children);
  return node;
}

async function request(method, path, body) {
  const response = await fetch(path, {
    method,
    headers: body ? { 'Content-Type': 'application/json' } : {},
    body: body ? JSON.stringify(body) : undefined,
  });
  const answer = await response.json().catch(() => ({}));
  if (!response.ok) throw new Error(answer.error ?? `HTTP ${response.status}`);
  return answer;
}

export class AccountsView {
  constructor(root) {
    this.root = root;
    this.editing = null;  // the name of the account in the form, null for a new one
    this.visible = false;
    this.build();
    setInterval(() => { if (this.visible) this.refresh(); }, REFRESH_MS);
  }

  build() {
    this.search = element('input', { type: 'search', placeholder: 'Search name, organisation, contact', className: 'accounts-search' });
    let timer = 0;
    this.search.addEventListener('input', () => {
      clearTimeout(timer);
      timer = setTimeout(() => this.refresh(), SEARCH_DELAY_MS);
    });
    const add = element('button', { type: 'button', textContent: 'New account', className: 'accounts-new' });
    add.addEventListener('click', () => this.edit(null));
    this.count = element('span', { className: 'accounts-count' });
    this.message = element('span', { className: 'accounts-message' });
    const bar = element('div', { className: 'accounts-bar' }, [this.search, add, this.count, this.message]);

    this.head = element('tr', {}, [element('th', { textContent: '' }),
      ...COLUMNS.map(([title]) => element('th', { textContent: title })), element('th', { textContent: '' })]);
    this.body = element('tbody');
    const table = element('table', { className: 'accounts-table' }, [element('thead', {}, [this.head]), this.body]);
    const list = element('div', { className: 'accounts-list' }, [table]);

    this.form = this.buildForm();
    this.confirm = this.buildConfirm();
    this.root.replaceChildren(bar, element('div', { className: 'accounts-main' }, [list, this.form]), this.confirm);
  }

  buildForm() {
    const form = element('form', { className: 'accounts-form', autocomplete: 'off' });
    this.formTitle = element('h3');
    this.inputs = {};
    const rows = FIELDS.map(([key, label, type, attributes]) => {
      const input = element('input', { type, name: key, ...attributes });
      this.inputs[key] = input;
      return element('label', { className: 'accounts-field' }, [element('span', { textContent: label }), input]);
    });
    this.services = SERVICES.map(([bit, label]) => {
      const box = element('input', { type: 'checkbox', checked: true });
      box.dataset.bit = String(bit);
      return element('label', {}, [box, ` ${label}`]);
    });
    const services = element('fieldset', { className: 'accounts-services' },
      [element('legend', { textContent: 'Allowed services' }), ...this.services]);
    const save = element('button', { type: 'submit', textContent: 'Save', className: 'accounts-save' });
    const cancel = element('button', { type: 'button', textContent: 'Cancel' });
    cancel.addEventListener('click', () => this.edit(null));
    this.formError = element('div', { className: 'accounts-error' });
    form.append(this.formTitle, ...rows, services, element('div', { className: 'accounts-buttons' }, [save, cancel]),
      this.formError);
    form.addEventListener('submit', (event) => {
      event.preventDefault();
      this.save();
    });
    this.edit(null);
    return form;
  }

  buildConfirm() {
    const dialog = element('dialog', { className: 'accounts-confirm' });
    this.confirmText = element('p');
    const yes = element('button', { value: 'yes', textContent: 'Delete', className: 'accounts-confirm-yes' });
    const no = element('button', { value: 'no', textContent: 'Cancel' });
    dialog.append(this.confirmText, element('form', { method: 'dialog' }, [yes, no]));
    return dialog;
  }

  open() {
    this.visible = true;
    this.refresh();
  }

  hide() {
    this.visible = false;
  }

  async refresh() {
    const query = encodeURIComponent(this.search.value);
    try {
      const answer = await request('GET', `/api/accounts/list?search=${query}`);
      this.render(answer.accounts, answer.more);
    } catch (error) {
      this.message.textContent = error.message;
    }
  }

  render(accounts, more) {
    this.count.textContent = `${accounts.length}${more ? '+' : ''} accounts, ` +
      `${accounts.filter((a) => a.online).length} online`;
    this.body.replaceChildren(...accounts.map((account) => this.row(account)));
  }

  row(account) {
    const mark = element('td', { className: account.online ? 'accounts-online on' : 'accounts-online',
      title: account.online ? 'connected now' : '' });
    mark.textContent = account.online ? '●' : '';
    const cells = COLUMNS.map(([, show]) => element('td', { textContent: show(account) }));
    const edit = element('button', { type: 'button', textContent: 'Edit', className: 'accounts-edit' });
    edit.addEventListener('click', () => this.edit(account));
    const reset = element('button', { type: 'button', textContent: 'Reset time', className: 'accounts-reset' });
    reset.addEventListener('click', () => this.act('reset-time', account.name, `Used time of ${account.name} reset`));
    const remove = element('button', { type: 'button', textContent: 'Delete', className: 'accounts-delete' });
    remove.addEventListener('click', () => this.remove(account.name));
    const tr = element('tr', {}, [mark, ...cells, element('td', { className: 'accounts-actions' }, [edit, reset, remove])]);
    tr.dataset.name = account.name;
    if (account.name === this.editing) tr.classList.add('selected');
    return tr;
  }

  // Fills the form with an account, or empties it for a new one.
  edit(account) {
    this.editing = account?.name ?? null;
    this.formTitle.textContent = account ? `Edit ${account.name}` : 'New account';
    for (const [key, , type] of FIELDS) {
      const input = this.inputs[key];
      if (type === 'checkbox') input.checked = Boolean(account?.[key]);
      else input.value = account ? String(account[key] ?? '') : (type === 'number' || key === 'validUntil' ? '0' : '');
    }
    for (const label of this.services) {
      const box = label.querySelector('input');
      box.checked = !((account?.deniedServices ?? 0) & Number(box.dataset.bit));
    }
    this.formError.textContent = '';
    for (const tr of this.body?.children ?? []) tr.classList.toggle('selected', tr.dataset.name === this.editing);
  }

  values() {
    const account = {};
    for (const [key, , type] of FIELDS) {
      const input = this.inputs[key];
      if (type === 'checkbox') account[key] = input.checked ? 1 : 0;
      else if (type === 'number' || key === 'validUntil') account[key] = Number(input.value || 0);
      else account[key] = input.value;
    }
    account.deniedServices = this.services.reduce((mask, label) => {
      const box = label.querySelector('input');
      return box.checked ? mask : mask | Number(box.dataset.bit);
    }, 0);
    return account;
  }

  async save() {
    const account = this.values();
    const adding = this.editing === null;
    try {
      if (adding) await request('POST', '/api/accounts/add', account);
      else await request('POST', '/api/accounts/update', { ...account, original: this.editing });
      this.message.textContent = `${account.name} ${adding ? 'added' : 'saved'}`;
      this.edit(account);
      await this.refresh();
    } catch (error) {
      this.formError.textContent = error.message;
    }
  }

  remove(name) {
    this.confirmText.textContent = `Delete the account ${name}?`;
    this.confirm.returnValue = '';
    this.confirm.onclose = () => {
      if (this.confirm.returnValue !== 'yes') return;
      if (this.editing === name) this.edit(null);
      this.act('delete', name, `${name} deleted`);
    };
    this.confirm.showModal();
  }

  async act(action, name, done) {
    try {
      await request('POST', `/api/accounts/${action}`, { name });
      this.message.textContent = done;
    } catch (error) {
      this.message.textContent = error.message;
    }
    await this.refresh();
  }
}
