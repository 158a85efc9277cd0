// The page: controls, the art, the filtered picture and the camera. The work
// happens in worker.js, so that the page never stops answering.
const $ = (id) => document.getElementById(id);
const art = $('art');
const canvas = $('image');
const selection = $('selection');
const progress = $('progress');
const fields = ['top', 'left', 'bottom', 'right'].map($);

const worker = new Worker('worker.js', { type: 'module' });
const pending = new Map();
let nextId = 1;

function ask(type, message = {}, transfer = []) {
  const id = nextId++;
  worker.postMessage({ ...message, id, type }, transfer);
  return new Promise((resolve, reject) => pending.set(id, { resolve, reject }));
}

worker.onmessage = ({ data }) => {
  const waiting = pending.get(data.id);
  if (!waiting) return;
  if ('progress' in data) return showProgress(data.progress);
  pending.delete(data.id);
  if ('error' in data) waiting.reject(new Error(data.error));
  else waiting.resolve(data.result);
};
worker.onerror = () => fail('the filter could not start in this browser');

const state = { name: null, result: null, camera: null, drawing: null, again: false };

function fail(line) {
  $('message').textContent = line;
}

function say(line) {
  $('status').textContent = line;
}

// The bar itself shows only when a run lasts (see draw); null: no measure yet.
function showProgress(fraction) {
  if (fraction === null) progress.removeAttribute('value');
  else progress.value = fraction;
}

// As many columns as the art's box shows without scrolling.
function fittedColumns() {
  const probe = document.createElement('span');
  probe.textContent = 'M'.repeat(100);
  art.append(probe);
  const glyph = probe.getBoundingClientRect().width / 100;
  probe.remove();
  const style = getComputedStyle(art);
  const room = $('drop').clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight);
  return Math.max(1, Math.floor(room / glyph));
}

function columns() {
  const asked = parseInt($('columns').value, 10);
  return asked > 0 ? asked : fittedColumns();
}

function rect() {
  const [top, left, bottom, right] = fields.map((f) => parseInt(f.value, 10));
  return [top, left, bottom, right].every(Number.isInteger) ? { top, left, bottom, right } : undefined;
}

// The art in the pre: plain, or each run of one colour in one span.
function showArt(text, colours, coloured) {
  if (!coloured) {
    art.textContent = text;
    return;
  }
  const fragment = document.createDocumentFragment();
  let cell = 0;
  let run = '';
  let colour = null;
  const flush = () => {
    if (!run) return;
    const span = document.createElement('span');
    span.style.color = colour;
    span.textContent = run;
    fragment.append(span);
    run = '';
  };
  for (const c of text) {
    if (c !== '\n') {
      const next = `rgb(${colours[3 * cell]},${colours[3 * cell + 1]},${colours[3 * cell + 2]})`;
      ++cell;
      if (next !== colour) {
        flush();
        colour = next;
      }
    }
    run += c;
  }
  flush();
  art.replaceChildren(fragment);
}

function showResult(result) {
  state.result = result;
  showArt(result.text, result.colours, $('colour').checked);
  canvas.width = result.picture.width;
  canvas.height = result.picture.height;
  canvas.getContext('2d').putImageData(result.picture, 0, 0);
  $('picture').hidden = false;
  placeSelection(rect());
  const lines = result.text.split('\n').length - 1;
  const across = lines ? result.text.indexOf('\n') : 0;
  const { width, height } = result.picture;
  $('caption').textContent = `${state.name}: ${width} × ${height} pixels, ${across} × ${lines} characters (kernel ${result.kernel}).`;
  for (const id of ['copy', 'png', 'txt', 'html']) $(id).disabled = false;
  art.dataset.drawn = (Number(art.dataset.drawn) || 0) + 1;
}

// Runs the filter with the current settings; a change during a run asks for
// one more run after it.
async function draw() {
  if (!state.name || state.camera) return;
  if (state.drawing) {
    state.again = true;
    return;
  }
  fail('');
  art.setAttribute('aria-busy', 'true');
  showProgress(null);
  const timer = setTimeout(() => (progress.hidden = false), 150);
  state.drawing = ask('draw', { columns: columns(), rect: rect() });
  try {
    showResult(await state.drawing);
  } catch (error) {
    fail(`${state.name}: ${error.message}`);
  } finally {
    clearTimeout(timer);
    progress.hidden = true;
    state.drawing = null;
  }
  if (state.again) {
    state.again = false;
    draw();
  } else {
    art.setAttribute('aria-busy', 'false');
  }
}

async function open(file) {
  if (!file) return;
  stopCamera();
  fail('');
  showProgress(null);
  progress.hidden = false;
  try {
    const { name } = await ask('open', { file });
    state.name = name;
    for (const f of fields) f.value = '';
  } catch (error) {
    progress.hidden = true;
    fail(error.message);
    return;
  }
  await draw();
}

// The selection, drawn with the pointer on the picture, in its pixels.
function pictureXY(event) {
  const box = canvas.getBoundingClientRect();
  const x = Math.round(((event.clientX - box.left) * canvas.width) / box.width);
  const y = Math.round(((event.clientY - box.top) * canvas.height) / box.height);
  return [Math.min(Math.max(x, 0), canvas.width), Math.min(Math.max(y, 0), canvas.height)];
}

function placeSelection(r) {
  selection.hidden = !r;
  if (!r) return;
  const scale = canvas.getBoundingClientRect().width / canvas.width;
  selection.style.left = `${r.left * scale}px`;
  selection.style.top = `${r.top * scale}px`;
  selection.style.width = `${(r.right - r.left) * scale}px`;
  selection.style.height = `${(r.bottom - r.top) * scale}px`;
}

let dragFrom = null;
canvas.addEventListener('pointerdown', (event) => {
  dragFrom = pictureXY(event);
  canvas.setPointerCapture(event.pointerId);
});
canvas.addEventListener('pointermove', (event) => {
  if (!dragFrom) return;
  const [x, y] = pictureXY(event);
  const [x0, y0] = dragFrom;
  const r = { top: Math.min(y, y0), left: Math.min(x, x0), bottom: Math.max(y, y0), right: Math.max(x, x0) };
  placeSelection(r);
  fields.forEach((f, i) => (f.value = [r.top, r.left, r.bottom, r.right][i]));
});
canvas.addEventListener('pointerup', () => {
  if (!dragFrom) return;
  dragFrom = null;
  const r = rect();
  if (!r || r.bottom <= r.top || r.right <= r.left) for (const f of fields) f.value = '';
  draw();
});

function download(blob, suffix) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = `${(state.name ?? 'picture').replace(/\.[^.]*$/, '')}-glyphs.${suffix}`;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 10_000);
}

// The camera: each frame through the filter as soon as the last is done.
async function startCamera() {
  fail('');
  let stream;
  try {
    stream = await navigator.mediaDevices.getUserMedia({ video: { width: { ideal: 1280 }, height: { ideal: 720 } } });
  } catch (error) {
    fail(`camera: ${error.message || 'not available'}`);
    return;
  }
  const video = $('video');
  video.srcObject = stream;
  await video.play();
  state.camera = { stream, frames: 0, workMs: 0, since: performance.now() };
  $('camera').setAttribute('aria-pressed', 'true');
  $('picture').hidden = true;
  const next = async () => {
    const camera = state.camera;
    if (!camera || camera.stream !== stream) return;
    try {
      const bitmap = await createImageBitmap(video);
      // Fitted to the window, but no wider than the camera's own cells:
      // more would only enlarge the picture, at a cost on every frame.
      const across = $('columns').value ? columns() : Math.min(columns(), Math.floor(bitmap.width / 8));
      const frame = await ask('frame', { bitmap, columns: across }, [bitmap]);
      if (state.camera !== camera) return;
      const drawStart = performance.now();
      showArt(frame.text, frame.colours, $('colour').checked);
      camera.frames += 1;
      camera.workMs += frame.ms + performance.now() - drawStart;
      const seconds = (performance.now() - camera.since) / 1000;
      art.dataset.frames = camera.frames;
      art.dataset.frameMs = (camera.workMs / camera.frames).toFixed(2);
      const rate = (camera.frames / seconds).toFixed(1);
      say(`Camera ${frame.width} × ${frame.height}: ${rate} frames a second, ${art.dataset.frameMs} ms of work each.`);
    } catch (error) {
      fail(`camera: ${error.message}`);
      stopCamera();
      return;
    }
    video.requestVideoFrameCallback(next);
  };
  video.requestVideoFrameCallback(next);
}

function stopCamera() {
  if (!state.camera) return;
  for (const track of state.camera.stream.getTracks()) track.stop();
  state.camera = null;
  $('camera').setAttribute('aria-pressed', 'false');
  say('');
}

$('open').addEventListener('click', () => $('file').click());
$('file').addEventListener('change', () => {
  open($('file').files[0]);
  $('file').value = ''; // so that choosing the same file again opens it again
});
$('camera').addEventListener('click', () => (state.camera ? stopCamera() : startCamera()));
$('columns').addEventListener('change', draw);
$('fit').addEventListener('click', () => {
  $('columns').value = '';
  draw();
});
$('colour').addEventListener('change', () => {
  if (state.result && !state.camera) showArt(state.result.text, state.result.colours, $('colour').checked);
});
for (const f of fields) f.addEventListener('change', draw);
$('whole').addEventListener('click', () => {
  for (const f of fields) f.value = '';
  draw();
});
$('controls').addEventListener('submit', (event) => event.preventDefault());
$('copy').addEventListener('click', async () => {
  try {
    await navigator.clipboard.writeText(state.result.text);
    say('The text is on the clipboard.');
  } catch {
    fail('the browser did not let the page use the clipboard');
  }
});
$('txt').addEventListener('click', () => {
  const coloured = $('colour').checked;
  download(new Blob([coloured ? state.result.ansi : state.result.text], { type: 'text/plain' }), 'txt');
});
$('html').addEventListener('click', () => download(new Blob([state.result.html], { type: 'text/html' }), 'html'));
$('png').addEventListener('click', async () => {
  try {
    download((await ask('png')).blob, 'png');
  } catch (error) {
    fail(`PNG: ${error.message}`);
  }
});

// Drop and paste.
const drop = $('drop');
drop.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  open(event.dataTransfer.files[0]);
});
document.addEventListener('paste', (event) => {
  const file = [...event.clipboardData.files].find((f) => f.type.startsWith('image/'));
  if (file) open(file);
});

let resized = null;
addEventListener('resize', () => {
  clearTimeout(resized);
  resized = setTimeout(() => {
    placeSelection(rect());
    if (!$('columns').value) draw();
  }, 200);
});

if ('serviceWorker' in navigator) navigator.serviceWorker.register('sw.js').catch(() => {});
