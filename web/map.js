// The map view: Leaflet on a plain degree projection (EPSG:4326, longitude and latitude as they are)
// draws the caster's map model: background layers, bases, rovers with their trails, the linked
// server's base and the work areas. The map tools (zoom by rectangle, zoom at a point, pan, whole map,
// save as PNG, layer control, follow) sit on top. Client texts are set as text only.
import { savePicture } from './mapexport.js';
import { symbolStyle } from './mapsymbols.js';

const LEAFLET = '/lib/leaflet/leaflet-src.esm.js';
const SMALL_DRAG = 6;        // pixels: a smaller drag zooms by the fixed factor
const DRAG_FACTOR = 1.6;
const POINT_FACTOR = 1.625;
const LABEL_LIMIT = 2000;    // a layer with more objects shows no labels
const KIND = { rect: 1, icon: 2, pline: 7, polygon: 8, text: 10, picture: 20, symbol: 30 };
const TOOLS = { zoomIn: 32774, zoomOut: 32775, zoomPoint: 32776, pan: 32780, pick: 32798 };

function element(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

export class MapView {
  constructor(container, post) {
    this.container = container;
    this.post = post;
    this.layers = [];           // from the caster: {index, name, display, select, label, edit, background, count}
    this.objects = new Map();   // id -> {layer, object}
    this.follow = true;
    this.loaded = false;
    this.tileUrl = '';
    this.extent = null;
    this.texts = null;
    this.drawn = new Set();     // layers the caster says are drawn at the current scale
    this.counts = [];           // objects held per layer
    this.fetched = new Set();   // background layers whose objects were fetched
    this.tool = TOOLS.pan;
    this.L = null;
    this.map = null;
    this.build();
  }

  build() {
    const bar = element('div', 'map-tools');
    const button = (command, text, title, onClick) => {
      const b = element('button', 'map-tool', text);
      b.type = 'button';
      b.title = title;
      b.dataset.command = String(command);
      b.addEventListener('click', onClick);
      bar.append(b);
      return b;
    };
    button(32794, 'PNG', 'Save the picture as PNG', () => this.save());
    this.toolButtons = [
      button(TOOLS.zoomIn, 'Zoom +', 'Zoom in by a dragged rectangle', () => this.setTool(TOOLS.zoomIn)),
      button(TOOLS.zoomOut, 'Zoom −', 'Zoom out by a dragged rectangle', () => this.setTool(TOOLS.zoomOut)),
      button(TOOLS.zoomPoint, 'Zoom ·', 'Zoom at a point', () => this.setTool(TOOLS.zoomPoint)),
    ];
    button(32777, 'All', 'Whole map', () => this.wholeMap());
    this.toolButtons.push(button(TOOLS.pan, 'Pan', 'Pan', () => this.setTool(TOOLS.pan)));
    button(32802, 'Layers', 'Layer control', () => this.openLayers());
    this.followButton = button(32803, 'Follow', 'Follow the rovers', () => this.post('/api/map/follow', { on: !this.follow }));
    this.coordinates = element('span', 'map-coordinates');
    bar.append(this.coordinates);
    this.surface = element('div', 'map-surface');
    this.band = element('div', 'map-band');
    this.band.hidden = true;
    this.surface.append(this.band);
    this.dialog = element('dialog', 'map-layers');
    this.container.append(bar, this.surface, this.dialog);
    this.showTool();
    this.showFollow();
  }

  // The first opening of the tab loads Leaflet and draws what arrived so far.
  async open() {
    if (this.map) {
      this.map.invalidateSize();
      return;
    }
    if (this.opening) return;
    this.opening = true;
    for (const href of ['/lib/leaflet/leaflet.css', 'map.css']) {
      const link = document.createElement('link');
      link.rel = 'stylesheet';
      link.href = href;
      document.head.append(link);
    }
    this.L = await import(LEAFLET);
    const L = this.L;
    this.map = L.map(this.surface, {
      crs: L.CRS.EPSG4326,
      zoomSnap: 0,
      zoomDelta: Math.log2(POINT_FACTOR),
      minZoom: -4,
      maxZoom: 24,
      attributionControl: false,
      zoomControl: false,
      boxZoom: false,
      doubleClickZoom: false,
      center: [35, 105],
      zoom: 2,
    });
    this.map.on('zoomend', () => this.askDrawn());
    this.map.on('mousemove', (e) => this.onMove(e));
    this.map.getContainer().addEventListener('contextmenu', (e) => {
      e.preventDefault();
      this.openLayers();
    });
    this.surface.addEventListener('mousedown', (e) => this.onDown(e));
    window.addEventListener('mouseup', (e) => this.onUp(e));
    this.showTiles();
    this.panes = [];
    this.redrawAll();
    if (this.extent && !this.pendingView) this.wholeMap();
    if (this.pendingView) this.applyView(this.pendingView);
    this.showTool();
  }

  // Snapshot part.
  reset(state) {
    if (!state) return;
    this.texts = state.texts;
    this.tileUrl = state.tileUrl ?? '';
    this.layers = state.layers ?? [];
    this.extent = state.extent ?? null;
    this.loaded = state.loaded;
    this.follow = state.follow;
    this.objects = new Map();
    this.counts = [];
    for (const object of state.objects ?? []) this.put(object);
    this.fetched.clear();
    this.showFollow();
    if (this.map) {
      this.showTiles();
      this.redrawAll();
    }
  }

  // One batch of changes ("map" event).
  apply(m) {
    for (const layer of m.cleared) {
      for (const [id, entry] of this.objects) if (entry.layer === layer) this.remove(id);
    }
    for (const id of m.removed) this.remove(id);
    for (const object of m.objects) this.put(object);
    this.follow = m.follow;
    this.loaded = m.loaded;
    this.showFollow();
    if (m.layers) {
      this.layers = m.layers;
      if (m.extent) this.extent = m.extent;
      if (this.map) this.redrawAll();
    }
    if (m.locate) this.applyView({ locate: m.locate });
    if (m.view && this.follow) this.applyView({ box: m.view });
  }

  put(object) {
    const old = this.objects.get(object.id);
    if (old?.shape && old.layer === object.layer && old.object.kind === KIND.symbol && object.kind === KIND.symbol) {
      old.object = object;
      this.restyle(old);
      return;
    }
    if (old) this.remove(object.id);
    const entry = { layer: object.layer, object };
    this.objects.set(object.id, entry);
    this.counts[object.layer] = (this.counts[object.layer] ?? 0) + 1;
    if (this.map && this.groups?.[object.layer]) this.draw(entry);
  }

  remove(id) {
    const entry = this.objects.get(id);
    if (!entry) return;
    if (entry.shape) this.groups?.[entry.layer]?.removeLayer(entry.shape);
    this.objects.delete(id);
    this.counts[entry.layer] -= 1;
  }

  showTiles() {
    if (!this.map || !this.tileUrl || this.tiles) return;
    this.tiles = this.L.tileLayer(this.tileUrl, { crossOrigin: 'anonymous' }).addTo(this.map);
  }

  // A pane per layer keeps the layers in their order, the first at the bottom.
  redrawAll() {
    const L = this.L;
    for (const group of this.groups ?? []) group.remove();
    this.groups = [];
    this.layers.forEach((layer, i) => {
      const name = `layer${i}`;
      if (!this.map.getPane(name)) this.map.createPane(name).style.zIndex = String(400 + i);
      const renderer = layer.background ? L.canvas({ pane: name }) : L.svg({ pane: name });
      this.groups[i] = L.layerGroup([], { pane: name });
      this.groups[i].renderer = renderer;
      this.groups[i].pane = name;
    });
    for (const entry of this.objects.values()) {
      entry.shape = null;
      if (this.groups[entry.layer]) this.draw(entry);
    }
    this.askDrawn(true);
  }

  // Asks the caster which layers its scale rules draw at the current scale.
  async askDrawn(force) {
    if (!this.map) return;
    const scale = this.scale();
    if (!force && scale === this.askedScale) return;
    this.askedScale = scale;
    const response = await fetch('/api/map/view', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ scale }),
    });
    if (!response.ok) return;
    const { drawn } = await response.json();
    this.drawn = new Set(drawn);
    this.groups.forEach((group, i) => {
      const show = this.drawn.has(i);
      if (show && !this.map.hasLayer(group)) group.addTo(this.map);
      if (!show && this.map.hasLayer(group)) group.remove();
      if (show && this.layers[i]?.background && !this.fetched.has(i)) this.fetchLayer(i);
    });
  }

  async fetchLayer(index) {
    this.fetched.add(index);
    const response = await fetch(`/api/map/objects?layer=${index}`);
    if (!response.ok) return;
    const { objects } = await response.json();
    for (const object of objects) this.put(object);
  }

  // Map units (degrees) per pixel.
  scale() {
    const a = this.map.containerPointToLatLng([0, 0]);
    const b = this.map.containerPointToLatLng([100, 0]);
    return Math.abs(b.lng - a.lng) / 100;
  }

  labelled(entry) {
    const layer = this.layers[entry.layer];
    return layer?.label && Math.max(layer.count, this.counts[entry.layer] ?? 0) <= LABEL_LIMIT;
  }

  draw(entry) {
    const L = this.L;
    const { object } = entry;
    const group = this.groups[entry.layer];
    const options = { pane: group.pane, renderer: group.renderer, interactive: !this.layers[entry.layer]?.background };
    const latLngs = object.points.map(([x, y]) => [y, x]);
    if (!latLngs.length) return;
    let shape;
    switch (object.kind) {
      case KIND.symbol:
        shape = L.circleMarker(latLngs[0], { ...options, ...symbolStyle(object.symbol), className: 'map-symbol' });
        break;
      case KIND.rect:
        if (latLngs.length < 2) return;
        shape = L.rectangle(latLngs, { ...options, weight: 1, fill: false, color: '#c00' });
        break;
      case KIND.icon:
        shape = L.circleMarker(latLngs[0], { ...options, radius: 3, weight: 1, color: '#333', fillOpacity: 0.8 });
        break;
      case KIND.pline:
        shape = L.polyline(latLngs, { ...options, weight: 1, color: '#444' });
        break;
      case KIND.polygon:
        shape = L.polygon(latLngs, { ...options, weight: 1, color: '#357', fillOpacity: 0.15 });
        break;
      case KIND.text:
        if (!this.labelled(entry)) return;
        shape = L.tooltip({ pane: group.pane, permanent: true, direction: 'center', className: 'map-text' })
          .setLatLng(latLngs[0]).setContent(textNode(object.text));
        break;
      case KIND.picture:
        if (latLngs.length < 2) return;
        this.drawPicture(entry, latLngs, group);
        return;
      default:
        return;
    }
    if (object.kind === KIND.symbol && object.text) {
      shape.bindTooltip(textNode(object.text), { permanent: this.labelled(entry), direction: 'right', offset: [8, 0], className: 'map-name' });
    }
    if (object.kind === KIND.rect && object.text && this.labelled(entry)) {
      shape.bindTooltip(textNode(object.text), { permanent: true, direction: 'center', className: 'map-text' });
    }
    entry.shape = shape;
    if (object.kind === KIND.symbol || object.kind === KIND.rect) shape.on('add', () => this.tag(entry));
    group.addLayer(shape);
  }

  restyle(entry) {
    const { object, shape } = entry;
    const [x, y] = object.points[0];
    shape.setLatLng([y, x]);
    shape.setStyle(symbolStyle(object.symbol));
    this.tag(entry);
  }

  // A drawn symbol or rectangle carries its name, kind and layer, so that it can be told apart on the page.
  tag(entry) {
    const path = entry.shape.getElement?.();
    if (!path) return;
    path.dataset.name = entry.object.text;
    path.dataset.symbol = String(entry.object.symbol);
    path.dataset.layer = this.layers[entry.layer]?.name ?? '';
  }

  async drawPicture(entry, latLngs, group) {
    const response = await fetch(`/api/map/picture?id=${entry.object.id}`);
    if (!response.ok || !this.objects.has(entry.object.id)) return;
    const { mime, data } = await response.json();
    entry.shape = this.L.imageOverlay(`data:${mime};base64,${data}`, latLngs, { pane: group.pane });
    group.addLayer(entry.shape);
  }

  applyView(view) {
    if (!this.map) {
      this.pendingView = view;
      return;
    }
    this.pendingView = null;
    if (view.locate) {
      const { x, y, scale } = view.locate;
      this.map.setView([y, x], this.zoomForScale(scale), { animate: false });
    } else if (view.box) {
      this.fitBox(view.box);
    }
  }

  zoomForScale(scale) {
    const perPixelAtZero = 180 / 256;  // EPSG:4326: 256 pixels span 180 degrees at zoom 0
    return Math.log2(perPixelAtZero / scale);
  }

  fitBox({ x1, y1, x2, y2 }) {
    const pad = 0.001;  // a single point gets a small box around it
    const w = Math.max(x2 - x1, pad);
    const h = Math.max(y2 - y1, pad);
    const cx = (x1 + x2) / 2;
    const cy = (y1 + y2) / 2;
    this.map.fitBounds([[cy - h / 2, cx - w / 2], [cy + h / 2, cx + w / 2]], { animate: false, padding: [20, 20] });
  }

  // The box around the background maps and every object held.
  wholeMap() {
    if (!this.map) return;
    const box = this.extent ? { ...this.extent } : { x1: Infinity, y1: Infinity, x2: -Infinity, y2: -Infinity };
    for (const { object } of this.objects.values()) {
      for (const [x, y] of object.points) {
        box.x1 = Math.min(box.x1, x);
        box.y1 = Math.min(box.y1, y);
        box.x2 = Math.max(box.x2, x);
        box.y2 = Math.max(box.y2, y);
      }
    }
    if (box.x1 <= box.x2) this.fitBox(box);
  }

  setTool(tool) {
    this.tool = tool;
    this.showTool();
  }

  // Work-area picking: the next rectangles dragged on the map go to onPicked({latitude1, longitude1,
  // latitude2, longitude2}) until another tool is chosen.
  startPick(onPicked) {
    this.onPicked = onPicked;
    this.setTool(TOOLS.pick);
  }

  showTool() {
    for (const b of this.toolButtons) b.classList.toggle('pressed', Number(b.dataset.command) === this.tool);
    this.surface.dataset.tool = String(this.tool);
    if (!this.map) return;
    if (this.tool === TOOLS.pan) this.map.dragging.enable();
    else this.map.dragging.disable();
  }

  showFollow() {
    this.followButton.classList.toggle('pressed', this.follow);
    this.followButton.setAttribute('aria-pressed', String(this.follow));
  }

  point(e) {
    const rect = this.surface.getBoundingClientRect();
    return { x: e.clientX - rect.left, y: e.clientY - rect.top };
  }

  onMove(e) {
    const { lat, lng } = e.latlng;
    if (this.drag) {
      const p = this.point(e.originalEvent);
      this.drag.end = p;
      const start = this.map.containerPointToLatLng([this.drag.start.x, this.drag.start.y]);
      this.coordinates.textContent = `L:${start.lng.toFixed(6)} B:${start.lat.toFixed(6)} ` +
        `L:${lng.toFixed(6)} B:${lat.toFixed(6)} S=${this.scale().toFixed(3)}`;
      Object.assign(this.band.style, {
        left: `${Math.min(p.x, this.drag.start.x)}px`, top: `${Math.min(p.y, this.drag.start.y)}px`,
        width: `${Math.abs(p.x - this.drag.start.x)}px`, height: `${Math.abs(p.y - this.drag.start.y)}px`,
      });
      this.band.hidden = false;
      return;
    }
    this.coordinates.textContent = `L:${lng.toFixed(6)} B:${lat.toFixed(6)}`;
  }

  onDown(e) {
    if (!this.map || e.button !== 0) return;
    const p = this.point(e);
    if (this.tool === TOOLS.zoomIn || this.tool === TOOLS.zoomOut || this.tool === TOOLS.pick) {
      this.drag = { start: p, end: p };
      e.preventDefault();
    } else if (this.tool === TOOLS.zoomPoint) {
      const at = this.map.containerPointToLatLng([p.x, p.y]);
      this.map.setView(at, this.map.getZoom() + Math.log2(POINT_FACTOR), { animate: false });
    }
  }

  onUp() {
    if (!this.drag) return;
    const { start, end } = this.drag;
    this.drag = null;
    this.band.hidden = true;
    const w = Math.abs(end.x - start.x);
    const h = Math.abs(end.y - start.y);
    const size = this.map.getSize();
    const small = w < SMALL_DRAG && h < SMALL_DRAG;
    if (this.tool === TOOLS.pick) {
      const a = this.map.containerPointToLatLng([start.x, start.y]);
      const b = this.map.containerPointToLatLng([end.x, end.y]);
      this.onPicked?.({ latitude1: a.lat, longitude1: a.lng, latitude2: b.lat, longitude2: b.lng });
    } else if (this.tool === TOOLS.zoomIn) {
      if (small) {
        const at = this.map.containerPointToLatLng([end.x, end.y]);
        this.map.setView(at, this.map.getZoom() + Math.log2(DRAG_FACTOR), { animate: false });
      } else {
        const a = this.map.containerPointToLatLng([start.x, start.y]);
        const b = this.map.containerPointToLatLng([end.x, end.y]);
        this.map.fitBounds([a, b], { animate: false });
      }
    } else {
      // Zoom out by the ratio of the window to the dragged size, centred on the window.
      const ratio = small ? DRAG_FACTOR : Math.min(size.x / Math.max(w, 1), size.y / Math.max(h, 1));
      this.map.setZoom(this.map.getZoom() - Math.log2(ratio), { animate: false });
    }
  }

  save() {
    if (!this.map) return;
    const labelled = new Set(this.layers.filter((l, i) => this.labelled({ layer: i })).map((l) => l.index));
    savePicture(this.map, this.surface, this.layers, this.drawn, labelled, this.objects);
  }

  // The layer control (dialog 146): a row per layer with its four switches.
  openLayers() {
    const texts = this.texts ?? { caption: '图层控制', controls: { 1: '确定' }, columns: ['层名', '显示', '选择', '标注', '编辑'] };
    const table = element('table');
    const head = element('tr');
    texts.columns.forEach((title) => head.append(element('th', '', title)));
    table.append(head);
    for (const layer of this.layers) {
      const row = element('tr');
      row.append(element('td', 'map-layer-name', layer.name));
      for (const key of ['display', 'select', 'label', 'edit']) {
        const cell = element('td');
        const box = element('input');
        box.type = 'checkbox';
        box.checked = layer[key];
        box.dataset.key = key;
        box.addEventListener('change', () => this.post('/api/map/layer', { index: layer.index, [key]: box.checked }));
        cell.append(box);
        row.append(cell);
      }
      table.append(row);
    }
    const form = element('form');
    form.method = 'dialog';
    const ok = element('button', '', texts.controls?.['1'] ?? 'OK');
    ok.value = 'ok';
    form.append(ok);
    this.dialog.replaceChildren(element('h3', '', texts.caption), table, form);
    if (!this.dialog.open) this.dialog.showModal();
  }
}

function textNode(text) {
  const span = document.createElement('span');
  span.textContent = text;
  return span;
}
