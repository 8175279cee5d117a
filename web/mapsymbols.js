// How the symbol kinds of the map look: bases, gone bases, rovers by their fix quality (kind
// fixQuality + 2: 0 other, 1 differential, 2 float, 3 fixed), bases of other kinds, the linked server's
// base, rovers outside their work area and trail points.
const FILL = {
  0: '#1f5fd6',  // base
  1: '#9a9a9a',  // base gone
  2: '#ffffff',  // rover without a differential solution
  3: '#e67e22',  // differential
  4: '#f1c40f',  // RTK float
  5: '#22aa22',  // RTK fixed
  8: '#7b2fbf',  // CORS base
  9: '#00a0a0',  // network base
  10: '#222222', // linked server's base
  11: '#ff4040', // linked server's base with an error
  12: '#ff0000', // outside the work area
  13: '#ff0000', // past position
};

const BASE_KINDS = new Set([0, 1, 8, 9, 10, 11]);

// Leaflet path options for a symbol kind.
export function symbolStyle(kind) {
  if (kind === 13) return { radius: 1.5, weight: 0, fillColor: FILL[13], fillOpacity: 0.8, stroke: false };
  const base = BASE_KINDS.has(kind);
  return {
    radius: base ? 7 : 5,
    weight: base ? 2 : 1.5,
    color: base ? '#ffffff' : '#ff0000',  // rovers in colour 255 (red)
    fillColor: FILL[kind] ?? '#777777',
    fillOpacity: 1,
    stroke: true,
  };
}
