// The web monitor page: one event socket feeds the views; the toolbar and the grid send the
// operator's actions back as POST requests. Every text from the caster is set as text, never as HTML.
import { ConsoleView } from './console.js';
import { GridView } from './grid.js';
import { LogView } from './log.js';
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
const settings = new SettingsView($('settings-view'));
const tabs = document.querySelector('.tabs');
setupTabs(tabs, { settings: [$('settings-view')], grid: [$('grid-view'), $('stats')] }, (name) => {
  if (name === 'settings') settings.open();
  if (name === 'grid') grid.schedule();
});

async function post(path, body) {
  const response = await fetch(path, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body ?? {}),
  });
  if (!response.ok) console.warn(path, response.status);
}

function showTitle(title, running) {
  $('title').textContent = title;
  document.title = title;
  $('start').disabled = running;
  $('stop').disabled = !running;
}

const handlers = {
  snapshot(m) {
    showTitle(m.title, m.running);
    showTabCaptions(tabs, m.tabs);
    grid.setColumns(m.columns);
    grid.reset(m.grid);
    log.reset(m.log);
    renderStats($('stats'), m.stats);
    renderTree($('tree'), m.tree);
  },
  log: (m) => log.apply(m.row, m.cleared),
  grid: (m) => grid.apply(m.rows, m.removed),
  stats: (m) => renderStats($('stats'), m.stats),
  tree: (m) => renderTree($('tree'), m.tree),
  title: (m) => showTitle(m.title, m.running),
  console: (m) => console_.show(m),
  settings: (m) => settings.onEvent(m),
  notice: (m) => log.apply({ time: '', name: '', text: m.text, colour: 255 }, false),
};

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  const socket = new WebSocket(`${scheme}//${location.host}/api/events`);
  socket.addEventListener('open', () => {
    $('link').textContent = 'online';
    $('link').classList.add('online');
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
connect();
