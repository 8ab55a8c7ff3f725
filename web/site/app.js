// The page: one sprite, turned by quillet's engine or enlarged by mostel's, in a worker.
import { enlarge, turn } from './pixeltools/index.js';

const $ = (id) => document.getElementById(id);
const state = { png: null, name: 'sprite', bitmap: null, frames: [], timer: 0, frame: 0, paused: false, urls: [], job: null };

// ---- Tabs -------------------------------------------------------------------------------
for (const tab of document.querySelectorAll('[role="tab"]')) {
  tab.addEventListener('click', () => {
    for (const other of document.querySelectorAll('[role="tab"]')) {
      other.setAttribute('aria-selected', String(other === tab));
      $(other.getAttribute('aria-controls')).hidden = other !== tab;
    }
  });
}

// ---- Messages and progress --------------------------------------------------------------
function showError(text) {
  $('error').textContent = text;
  $('error').hidden = !text;
}
function setStatus(text) { $('status').textContent = text; }

// Runs work(signal, onProgress) with the progress bar and Cancel; resolves to its result, or
// to null when it failed (the message shown) or was cancelled.
async function withProgress(label, work) {
  state.job?.abort();
  const controller = new AbortController();
  state.job = controller;
  showError('');
  setStatus(label);
  $('progress').value = 0;
  $('progress').hidden = false;
  $('cancel').hidden = false;
  const start = performance.now();
  try {
    const result = await work(controller.signal, (percent) => { $('progress').value = percent; });
    const ms = Math.round(performance.now() - start);
    return { result, ms };
  } catch (error) {
    if (error?.name === 'AbortError') setStatus('Cancelled.');
    else { setStatus(''); showError(error?.message || String(error)); }
    return null;
  } finally {
    if (state.job === controller) {
      state.job = null;
      $('progress').hidden = true;
      $('cancel').hidden = true;
    }
  }
}
$('cancel').addEventListener('click', () => state.job?.abort());

// ---- Input ------------------------------------------------------------------------------
const isPng = (bytes) => bytes.length >= 8 && [137, 80, 78, 71, 13, 10, 26, 10].every((b, k) => bytes[k] === b);

// PNG bytes of a file: as they are for a PNG, else the browser's decoding encoded as PNG.
async function pngOf(file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  if (isPng(bytes)) return { png: bytes, converted: false };
  let bitmap;
  try {
    bitmap = await createImageBitmap(new Blob([bytes], { type: file.type }));
  } catch {
    // Not a picture the browser can read: the library says what is wrong with it.
    return { png: bytes, converted: false };
  }
  const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
  canvas.getContext('2d').drawImage(bitmap, 0, 0);
  const blob = await canvas.convertToBlob({ type: 'image/png' });
  return { png: new Uint8Array(await blob.arrayBuffer()), converted: true };
}

async function open(file) {
  if (!file) return;
  showError('');
  const { png, converted } = await pngOf(file);
  state.png = png;
  state.name = file.name.replace(/\.[^.]*$/, '') || 'sprite';
  $('out').value = state.name;
  try {
    state.bitmap = await createImageBitmap(new Blob([png], { type: 'image/png' }));
  } catch {
    state.bitmap = null;
  }
  const size = state.bitmap ? `${state.bitmap.width} x ${state.bitmap.height}` : 'size unknown';
  $('source-info').textContent = `${file.name} (${size})${converted ? ', converted to PNG by the browser' : ''}`;
  $('turn-run').disabled = false;
  $('enlarge-run').disabled = false;
  drawPick();
}
$('file').addEventListener('change', () => open($('file').files[0]));
document.addEventListener('dragover', (event) => { event.preventDefault(); $('source').classList.add('over'); });
document.addEventListener('dragleave', () => $('source').classList.remove('over'));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  $('source').classList.remove('over');
  open(event.dataTransfer.files[0]);
});

// ---- Downloads --------------------------------------------------------------------------
function releaseUrls() {
  for (const url of state.urls) URL.revokeObjectURL(url);
  state.urls = [];
}
const isPicture = (name) => /\.png$/i.test(name);
function link(anchor, name, bytes) {
  const type = isPicture(name) ? 'image/png' : name.endsWith('.json') ? 'application/json' : 'text/plain';
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  state.urls.push(url);
  anchor.href = url;
  anchor.download = name.split('/').pop();
  anchor.textContent = name;
  anchor.hidden = false;
  return anchor;
}

// ---- Turn -------------------------------------------------------------------------------
const value = (id) => Number($(id).value);
const zoom = () => Number($('zoom').value);

function sizeCanvas(canvas, width, height) {
  canvas.width = width;
  canvas.height = height;
  canvas.style.width = `${width * zoom()}px`;
  canvas.style.height = `${height * zoom()}px`;
}

// The sprite turned about its centre with nearest-neighbour sampling and nothing else, on a
// canvas of the frame's size, for comparison.
function drawPlain(canvas, angle, scale) {
  const ctx = canvas.getContext('2d');
  ctx.clearRect(0, 0, canvas.width, canvas.height);
  if (!state.bitmap) return;
  ctx.save();
  ctx.imageSmoothingEnabled = false;
  ctx.translate(canvas.width / 2, canvas.height / 2);
  ctx.rotate((-angle * Math.PI) / 180);
  ctx.scale(scale, scale);
  ctx.drawImage(state.bitmap, -state.bitmap.width / 2, -state.bitmap.height / 2);
  ctx.restore();
}

// The sprite as it is, with the pivot marked; a click there sets the pivot to that point.
function drawPick() {
  const canvas = $('pick');
  if (!state.bitmap) return;
  const z = Math.max(zoom(), 4);
  canvas.width = state.bitmap.width * z;
  canvas.height = state.bitmap.height * z;
  const ctx = canvas.getContext('2d');
  ctx.imageSmoothingEnabled = false;
  ctx.drawImage(state.bitmap, 0, 0, canvas.width, canvas.height);
  const pivot = /^\s*([\d.]+)\s*,\s*([\d.]+)\s*$/.exec($('pivot').value);
  const cells = /^\s*(\d+)\s*[xX]\s*(\d+)\s*$/.exec($('cells').value);
  const [cw, ch] = cells ? [Number(cells[1]), Number(cells[2])] : [state.bitmap.width, state.bitmap.height];
  if (pivot && cw > 0 && ch > 0) {
    ctx.strokeStyle = '#e22';
    // The pivot of each cell.
    for (let y = 0; y + ch <= state.bitmap.height; y += ch) {
      for (let x = 0; x + cw <= state.bitmap.width; x += cw) {
        const px = (x + Number(pivot[1])) * z, py = (y + Number(pivot[2])) * z;
        ctx.beginPath();
        ctx.moveTo(px - z, py); ctx.lineTo(px + z, py);
        ctx.moveTo(px, py - z); ctx.lineTo(px, py + z);
        ctx.stroke();
      }
    }
  }
}
$('pick').addEventListener('click', (event) => {
  if (!state.bitmap) return;
  const canvas = $('pick');
  // The point within the picture (the canvas's border left out), to the nearest half pixel.
  const box = canvas.getBoundingClientRect();
  const half = (v) => Math.round(v * 2) / 2;
  let x = half(((event.clientX - box.left - canvas.clientLeft) / canvas.clientWidth) * state.bitmap.width);
  let y = half(((event.clientY - box.top - canvas.clientTop) / canvas.clientHeight) * state.bitmap.height);
  const cells = /^\s*(\d+)\s*[xX]\s*(\d+)\s*$/.exec($('cells').value);
  if (cells && Number(cells[1]) > 0 && Number(cells[2]) > 0) {
    x %= Number(cells[1]);
    y %= Number(cells[2]);
  }
  $('pivot').value = `${x},${y}`;
  drawPick();
});
for (const id of ['pivot', 'cells']) $(id).addEventListener('input', drawPick);

function play() {
  clearTimeout(state.timer);
  const n = state.frames.length;
  if (!n) return;
  const { bitmap, angle, scale } = state.frames[state.frame % n];
  const canvas = $('play');
  if (canvas.width !== bitmap.width || canvas.height !== bitmap.height) {
    sizeCanvas(canvas, bitmap.width, bitmap.height);
    sizeCanvas($('plain'), bitmap.width, bitmap.height);
  }
  const ctx = canvas.getContext('2d');
  ctx.clearRect(0, 0, canvas.width, canvas.height);
  ctx.drawImage(bitmap, 0, 0);
  drawPlain($('plain'), angle, scale);
  if (!state.paused && n > 1) {
    state.frame = (state.frame + 1) % n;
    state.timer = setTimeout(play, 1000 / Math.max(1, value('fps') || 12));
  }
}
$('pause').addEventListener('click', () => {
  state.paused = !state.paused;
  $('pause').textContent = state.paused ? 'Play' : 'Pause';
  play();
});
$('zoom').addEventListener('change', () => {
  for (const id of ['play', 'plain', 'sheet']) sizeCanvas($(id), $(id).width, $(id).height);
  drawPick();
  play();
});

async function drawSheet(bytes) {
  const bitmap = await createImageBitmap(new Blob([bytes], { type: 'image/png' }));
  sizeCanvas($('sheet'), bitmap.width, bitmap.height);
  $('sheet').getContext('2d').drawImage(bitmap, 0, 0);
}

$('turn-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  if (!state.png) return;
  const directions = Math.max(0, Math.floor(value('directions')) || 0);
  const frames = directions > 0 ? directions : Math.max(1, Math.floor(value('frames')) || 1);
  // A set's turns are its directions: the frames and the end angle are another way to ask.
  const options = directions > 0
    ? { out: $('out').value || 'sprite', angle: value('angle'), scale: value('scale'), directions }
    : { out: $('out').value || 'sprite', angle: value('angle'), endAngle: value('end-angle'),
        scale: value('scale'), endScale: value('end-scale'), frames };
  for (const [id, key] of [['cells', 'cells'], ['pivot', 'pivot'], ['canvas', 'canvas'], ['data', 'data']]) {
    const given = $(id).value.trim();
    if (given) options[key] = given;
  }
  if (options.data) options.fps = Math.max(1, value('fps') || 12);
  const columns = Math.max(1, Math.floor(value('columns')) || 1);
  const done = await withProgress(`Turning ${frames} frame${frames > 1 ? 's' : ''}…`, async (signal, progress) => {
    const files = await turn(state.png, { ...options, signal, onProgress: (p) => progress(p * 0.8) });
    const sheet = await turn(state.png, { ...options, sheet: columns, signal, onProgress: (p) => progress(80 + p * 0.2) });
    return { files, sheet: sheet[0], sheetData: sheet.slice(1) };
  });
  if (!done) return;
  const { files: written, sheet, sheetData } = done.result;
  // The frames' files; a data file comes after them.
  const files = written.filter((f) => isPicture(f.name));
  const data = written.filter((f) => !isPicture(f.name));
  releaseUrls();
  const step = (end, start) => (frames > 1 ? (end - start) / (frames - 1) : 0);
  // A set's frames run direction by direction, each direction's cells in a row.
  const perDirection = Math.max(1, Math.floor(files.length / Math.max(1, directions)));
  state.frames = await Promise.all(files.map(async (f, k) => ({
    bitmap: await createImageBitmap(new Blob([f.bytes], { type: 'image/png' })),
    angle: directions > 0 ? options.angle + (360 / directions) * Math.floor(k / perDirection)
      : options.angle + step(options.endAngle, options.angle) * k,
    scale: directions > 0 ? (options.scale > 0 ? options.scale : 1)
      : (options.scale > 0 ? options.scale : 1) + step(options.endScale, options.scale) * k,
  })));
  state.frame = 0;
  $('pause').disabled = false;
  play();
  await drawSheet(sheet.bytes);
  link($('sheet-link'), sheet.name, sheet.bytes);
  const list = $('frame-links');
  const sheetItems = sheetData.map((f) => {
    const item = document.createElement('li');
    item.append(link(document.createElement('a'), f.name, f.bytes), ' (of the sheet)');
    item.className = 'data';
    return item;
  });
  list.replaceChildren(...[...files, ...data].map((f) => {
    const item = document.createElement('li');
    item.append(link(document.createElement('a'), f.name, f.bytes));
    if (!isPicture(f.name)) item.className = 'data';
    return item;
  }), ...sheetItems);
  $('all-frames').hidden = false;
  const withData = data.length ? ', a data file for each' : '';
  setStatus(`${files.length} frame${files.length > 1 ? 's' : ''} and a sheet${withData} in ${done.ms} ms.`);
});

// Every frame's file, one after the other (the browser may ask once whether to allow several).
$('all-frames').addEventListener('click', async () => {
  for (const anchor of document.querySelectorAll('#frame-links a')) {
    anchor.click();
    await new Promise((resolve) => setTimeout(resolve, 150));
  }
});

// ---- Enlarge ----------------------------------------------------------------------------
$('enlarge-run').addEventListener('click', async () => {
  if (!state.png) return;
  const done = await withProgress('Enlarging…', (signal, onProgress) => enlarge(state.png, { signal, onProgress }));
  if (!done) return;
  const bitmap = await createImageBitmap(new Blob([done.result], { type: 'image/png' }));
  const original = $('original');
  original.width = bitmap.width;
  original.height = bitmap.height;
  const ctx = original.getContext('2d');
  ctx.imageSmoothingEnabled = false;
  if (state.bitmap) ctx.drawImage(state.bitmap, 0, 0, bitmap.width, bitmap.height);
  const enlarged = $('enlarged');
  enlarged.width = bitmap.width;
  enlarged.height = bitmap.height;
  enlarged.getContext('2d').drawImage(bitmap, 0, 0);
  for (const canvas of [original, enlarged]) {
    canvas.style.width = `${bitmap.width * 2}px`;
    canvas.style.height = `${bitmap.height * 2}px`;
  }
  link($('enlarged-link'), `${state.name}_3x.png`, done.result);
  setStatus(`Enlarged to ${bitmap.width} x ${bitmap.height} in ${done.ms} ms.`);
});
