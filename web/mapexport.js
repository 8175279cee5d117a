// Saving the map as a PNG picture: the background tiles and pictures that may be read, then every
// drawn layer in its order, drawn again from the map model onto one canvas.
import { symbolStyle } from './mapsymbols.js';

function drawImages(ctx, surface, selector) {
  const origin = surface.getBoundingClientRect();
  for (const img of surface.querySelectorAll(selector)) {
    const r = img.getBoundingClientRect();
    try {
      ctx.drawImage(img, r.left - origin.left, r.top - origin.top, r.width, r.height);
    } catch {
      // An image of another site without its permission is left out.
    }
  }
}

function drawObject(ctx, map, object, labelled) {
  const points = object.points.map(([x, y]) => map.latLngToContainerPoint([y, x]));
  if (!points.length) return;
  ctx.beginPath();
  switch (object.kind) {
    case 30: {
      const style = symbolStyle(object.symbol);
      ctx.arc(points[0].x, points[0].y, style.radius, 0, 2 * Math.PI);
      ctx.fillStyle = style.fillColor;
      ctx.fill();
      if (style.stroke) {
        ctx.lineWidth = style.weight;
        ctx.strokeStyle = style.color;
        ctx.stroke();
      }
      if (object.text && labelled) {
        ctx.fillStyle = '#000';
        ctx.fillText(object.text, points[0].x + 9, points[0].y + 4);
      }
      return;
    }
    case 1:
      if (points.length < 2) return;
      ctx.strokeStyle = '#c00';
      ctx.strokeRect(points[0].x, points[0].y, points[1].x - points[0].x, points[1].y - points[0].y);
      return;
    case 2:
      ctx.arc(points[0].x, points[0].y, 3, 0, 2 * Math.PI);
      ctx.fillStyle = '#333';
      ctx.fill();
      return;
    case 7:
    case 8:
      points.forEach((p, i) => (i ? ctx.lineTo(p.x, p.y) : ctx.moveTo(p.x, p.y)));
      if (object.kind === 8) ctx.closePath();
      ctx.strokeStyle = object.kind === 8 ? '#357' : '#444';
      ctx.stroke();
      return;
    case 10:
      if (!labelled) return;
      ctx.fillStyle = '#000';
      ctx.fillText(object.text, points[0].x, points[0].y);
      return;
    default:
  }
}

// labelled: the layers whose labels are shown.
export function savePicture(map, surface, layers, drawn, labelled, objects) {
  const size = map.getSize();
  const canvas = document.createElement('canvas');
  canvas.width = size.x;
  canvas.height = size.y;
  const ctx = canvas.getContext('2d');
  ctx.fillStyle = '#ffffff';
  ctx.fillRect(0, 0, size.x, size.y);
  ctx.font = '12px sans-serif';
  drawImages(ctx, surface, '.leaflet-tile-loaded, .leaflet-image-layer');
  const byLayer = layers.map(() => []);
  for (const { layer, object } of objects.values()) byLayer[layer]?.push(object);
  layers.forEach((layer, i) => {
    if (!drawn.has(i)) return;
    for (const object of byLayer[i]) drawObject(ctx, map, object, labelled.has(i));
  });
  let url;
  try {
    url = canvas.toDataURL('image/png');
  } catch {
    return;  // tiles of another site tainted the canvas
  }
  const link = document.createElement('a');
  link.href = url;
  link.download = 'map.png';
  link.click();
}
