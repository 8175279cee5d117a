// The web monitor page: one event socket feeds the views; the toolbar and the grid send the
// operator's actions back as POST requests. Every text from the caster is set as text, never as HTML.
import { AreaDialog } from './areas.js';
import { AccountsView } from './accounts.js';
import { ConsoleView } from './console.js';
import { GridView } from './grid.js';
import { LogView } from './log.js';
import { MapView } from './map.js';
import { renderTree } from './tree.js';
import { renderStats } from './stats.js';
import { SettingsView, setupTabs, showTabCaptions } from './settings.js';

const $ = (id) => document.getElementById(id);
const RECONNECT_MS = 2000;

const grid = new GridView($('grid-head'), $('grid-body'), $('grid-spacer'), (socket) =>
  post('/api/connection/close', { socket }),
);
const console_ = new ConsoleView($('console'), post);
const log = new LogView($('log'), (name) => post('/api/console/open', { name }));
grid.onOpen = (socket) => console_.open(socket);
grid.onStation = (socket) => post('/api/station/open', { socket });
const settings = new SettingsView($('settings-view'));
const map = new MapView($('map-view'), post);
const tabs = document.querySelector('.tabs');
const accounts = new AccountsView($('accounts-view'));
const views = {
  settings: [$('settings-view')], grid: [$('grid-view'), $('stats')], map: [$('map-view')],
  accounts: [$('accounts-view')],
};
setupTabs(tabs, views, (name) => {
  if (name === 'accounts') accounts.open();
  else accounts.hide();
  if (name === 'settings') settings.open();
  if (name === 'grid') grid.schedule();
  if (name === 'map') map.open();
});
// The work-area dialog stays usable beside the map, where its corners are picked.
const areas = new AreaDialog($('areas'), (onPicked) => {
  tabs.querySelector('[data-tab="map"]').click();
  map.startPick(onPicked);
});

async function post(path, body) {
  const response = await fetch(path, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body ?? {}),
  });
  if (!response.ok) console.warn(path, response.status);
}

function showTitle(title, running, toolbar) {
  $('title').textContent = title;
  document.title = title;
  $('start').disabled = toolbar ? !toolbar.start : running;
  $('stop').disabled = toolbar ? !toolbar.stop : !running;
  const links = $('links');
  (toolbar?.links ?? []).forEach((on, i) => {
    const indicator = links.children[i] ?? links.appendChild(document.createElement('span'));
    indicator.textContent = String(i + 1);
    indicator.classList.toggle('on', on);
  });
}

// Captions of a dialog drawn on the page: elements marked with data-control take the control's text.
function applyDialog(root, dialog) {
  if (!dialog) return;
  for (const element of root.querySelectorAll('[data-control]')) {
    const key = element.dataset.control;
    const text = key === 'caption' ? dialog.caption : dialog.controls?.[key];
    if (text) element.textContent = text;
  }
}

function applyTexts(texts) {
  if (!texts) return;
  applyDialog($('console'), texts.console);
  applyDialog($('station'), texts.station);
}

function showProgress(m) {
  if (!m || !m.created) return;
  $('status-pane').textContent = m.pane;
  $('status-bar-text').textContent = m.text;
  const bar = $('status-progress');
  bar.hidden = !m.visible;
  bar.max = Math.max(1, m.range);
  bar.value = Math.min(Math.max(0, m.position), bar.max);
}

// The station dialog: the connection's grid cells under their column titles.
function showStation(m) {
  const dialog = $('station');
  const table = dialog.querySelector('.station-cells');
  table.replaceChildren(...m.titles.map((title, i) => {
    const row = document.createElement('tr');
    const name = document.createElement('td');
    const value = document.createElement('td');
    name.textContent = title;
    value.textContent = m.cells[i] ?? '';
    row.append(name, value);
    return row;
  }));
  if (!dialog.open) dialog.showModal();
}

const handlers = {
  snapshot(m) {
    applyTexts(m.texts);
    showTitle(m.title, m.running, m.toolbar);
    showTabCaptions(tabs, m.tabs);
    showProgress(m.progress);
    grid.setColumns(m.columns);
    grid.apply(m.gridTotal, 0, []);
    log.reset(m.log);
    renderStats($('stats'), m.stats);
    renderTree($('tree'), m.tree);
    map.reset(m.map);
  },
  log: (m) => log.apply(m.row, m.cleared),
  grid: (m) => grid.apply(m.total, m.first, m.rows),
  stats: (m) => renderStats($('stats'), m.stats),
  tree: (m) => renderTree($('tree'), m.tree),
  title: (m) => showTitle(m.title, m.running, m.toolbar),
  progress: showProgress,
  station: showStation,
  console: (m) => console_.show(m),
  settings: (m) => settings.onEvent(m),
  map: (m) => map.apply(m),
  notice: (m) => log.apply({ time: '', name: '', text: m.text, colour: 255 }, false),
};

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  const socket = new WebSocket(`${scheme}//${location.host}/api/events`);
  socket.addEventListener('open', () => {
    $('link').textContent = 'online';
    $('link').classList.add('online');
    grid.requestWindow = (first, count) => {
      if (socket.readyState !== WebSocket.OPEN) return false;
      socket.send(JSON.stringify({ type: 'view', first, count }));
      return true;
    };
    grid.reconnected();
  });
  socket.addEventListener('message', (event) => {
    const message = JSON.parse(event.data);
    handlers[message.type]?.(message);
  });
  socket.addEventListener('close', () => {
    $('link').textContent = 'offline';
    $('link').classList.remove('online');
    setTimeout(connect, RECONNECT_MS);
  });
}

$('start').addEventListener('click', () => post('/api/service/start'));
$('stop').addEventListener('click', () => post('/api/service/stop'));
$('admin').addEventListener('click', () => {
  post('/api/accounts/admin');
  tabs.querySelector('[data-tab="accounts"]').click();
});
$('areas-open').addEventListener('click', () => areas.open());
connect();
