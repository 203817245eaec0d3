// The panel page: builds the controls the host describes, draws the preview
// the module paints, and sends edits, clicks, boxes and presses back. Every
// open page of the panel listens to the server's change events and redraws
// when the view moves on, so that all of them show the same state.
'use strict';

const statusLine = document.getElementById('status');
const form = document.getElementById('controls');
const valueInputs = new Map();
let preview = null;

function say(text, isError = false, line = statusLine) {
  line.textContent = text;
  line.classList.toggle('error', isError);
}

// Counts requests in flight on the body, until `read` has read the answer's
// body, so that a watcher can tell when the page has settled. A refused
// request throws an error carrying the status and whether the server found
// the gesture stale.
async function request(path, options, read = (response) => response) {
  document.body.dataset.pending = Number(document.body.dataset.pending) + 1;
  try {
    const response = await fetch(path, { cache: 'no-store', ...options });
    if (!response.ok) {
      const problem = await response.json().catch(() => ({ error: response.statusText }));
      throw Object.assign(new Error(problem.error), { status: response.status, stale: Boolean(problem.stale) });
    }
    return await read(response);
  } finally {
    document.body.dataset.pending = Number(document.body.dataset.pending) - 1;
  }
}

const readJson = (response) => response.json();

async function post(path, body = {}) {
  return request(path, {
    method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body),
  }, readJson);
}

// The view versions: the server moves its version on with every change,
// and the page remembers which one its preview shows. Gestures carry the
// shown one, so that a gesture on an image the user has not seen replaced
// yet is refused rather than measured against another view.
let shownView = 0;
let wantedView = 0;
let redrawing = null;

// Redraws until the preview shows at least the given view; redraws asked
// for meanwhile join the one in flight. Resolves when the page has caught up.
function redrawTo(view) {
  wantedView = Math.max(wantedView, view);
  if (!redrawing && shownView < wantedView) redrawing = redrawLoop();
  return redrawing ?? Promise.resolve();
}

// A redraw counts as a request in flight from start to end, values included.
async function redrawLoop() {
  document.body.dataset.drawing = 'true';
  document.body.dataset.pending = Number(document.body.dataset.pending) + 1;
  try {
    while (shownView < wantedView) await redrawOnce();
  } catch (error) {
    wantedView = shownView;
    say(`The preview could not be drawn: ${error.message}`, true);
  } finally {
    delete document.body.dataset.drawing;
    document.body.dataset.pending = Number(document.body.dataset.pending) - 1;
    redrawing = null;
  }
}

async function redrawOnce() {
  const view = await drawPreview();
  const panel = await readPanel();
  showHistory(panel.history);
  for (const control of panel.controls) {
    const input = valueInputs.get(control.id);
    if (input) showValue(input, control.value);
  }
  shownView = view;
  wantedView = Math.max(wantedView, panel.view);
  if (preview) preview.dataset.draws = Number(preview.dataset.draws) + 1;
}

// The values as shown, to tell the user afterwards what a gesture changed.
function shownValues() {
  return new Map([...valueInputs].map(([id, input]) => [id, input.dataset.value]));
}

function changesSince(before) {
  const changed = [];
  for (const [id, input] of valueInputs) {
    if (before.get(id) !== input.dataset.value) changed.push(`${input.dataset.label} set to ${input.dataset.value}`);
  }
  return changed.length ? `${changed.join(', ')}.` : '';
}

// Waits for the redraw an answer asks for, then says what changed.
async function afterChange(answer, before = shownValues()) {
  if (answer.redraw) await redrawTo(answer.view);
  return changesSince(before);
}

function guideText(control) {
  const parts = [];
  if ('min' in control && 'max' in control) parts.push(`${control.min} to ${control.max}`);
  if ('step' in control) parts.push(`step ${control.step}`);
  return parts.length ? parts.join(', ') : '';
}

// Numbers are shown as JavaScript writes them: the shortest text that reads
// back as the same double.
function showValue(input, value) {
  const text = String(value);
  // A field the user is typing in keeps the edit; Escape goes back to the new value.
  if (!('edited' in input.dataset)) input.value = text;
  input.dataset.value = text;
  const below = 'min' in input.dataset && value < Number(input.dataset.min);
  const above = 'max' in input.dataset && value > Number(input.dataset.max);
  input.classList.toggle('outside', below || above);
  input.title = below || above ? 'Outside the suggested range; the value is kept as it is.' : '';
}

// Any real number, with a point or a single decimal comma ("0,5" is 0.5)
// and an optional exponent; null for anything else, and for numbers too
// large for a double.
function readNumber(text) {
  let written = text.trim();
  if (!written.includes('.') && (written.match(/,/g) ?? []).length === 1) written = written.replace(',', '.');
  if (!/^[+-]?(\d+\.?\d*|\.\d+)(e[+-]?\d+)?$/i.test(written)) return null;
  const value = Number(written);
  return Number.isFinite(value) ? value : null;
}

// One unit of the value's second significant digit: about a tenth to a
// hundredth of the value, whatever its scale.
function nudged(value, direction, hintedStep) {
  const step = value === 0 ? hintedStep ?? 0.1 : 10 ** (Math.floor(Math.log10(Math.abs(value))) - 1);
  return Number((value + direction * step).toPrecision(15));
}

function valueControl(control) {
  const row = document.createElement('label');
  row.className = 'value';
  const name = document.createElement('span');
  name.textContent = control.label;
  const input = document.createElement('input');
  input.type = 'text';
  input.inputMode = 'decimal';
  input.autocomplete = 'off';
  input.spellcheck = false;
  input.id = `control-${control.id}`;
  input.dataset.label = control.label;
  for (const limit of ['min', 'max']) if (limit in control) input.dataset[limit] = control[limit];

  const send = async (value) => {
    try {
      const before = shownValues();
      await afterChange(await post('/api/value', { id: control.id, value }), before);
      say(`${control.label} set to ${input.dataset.value}.`);
    } catch (error) {
      say(`${control.label} was not changed: ${error.message}`, true);
    }
  };
  input.addEventListener('input', () => { input.dataset.edited = ''; });
  input.addEventListener('blur', () => { delete input.dataset.edited; });
  input.addEventListener('change', () => {
    delete input.dataset.edited;
    const value = readNumber(input.value);
    if (value === null) {
      say(`${control.label} needs a number such as 0.5 or -1.5e-3; "${input.value.trim()}" is none. It stays ${input.dataset.value}.`, true);
      input.value = input.dataset.value;
      return;
    }
    input.value = String(value);
    send(value);
  });
  input.addEventListener('keydown', (event) => {
    if (event.key === 'Escape') {
      event.stopPropagation();
      delete input.dataset.edited;
      if (input.value !== input.dataset.value) say(`${control.label} left at ${input.dataset.value}.`);
      input.value = input.dataset.value;
    } else if (event.key === 'ArrowUp' || event.key === 'ArrowDown') {
      event.preventDefault();
      const value = readNumber(input.value) ?? Number(input.dataset.value);
      input.value = String(nudged(value, event.key === 'ArrowUp' ? 1 : -1, control.step));
      send(Number(input.value));
    }
  });
  const guide = document.createElement('span');
  guide.className = 'guide';
  guide.textContent = guideText(control);
  input.title = 'Any number; ↑ and ↓ change it by a step of its second digit, Escape undoes an edit.';
  row.append(name, input, guide);
  valueInputs.set(control.id, input);
  showValue(input, control.value);
  return row;
}

// The module's buttons work the preset shelf, so the drawer follows them,
// and the status line says what became of the press.
function buttonControl(control) {
  const button = document.createElement('button');
  button.type = 'button';
  button.id = `control-${control.id}`;
  button.textContent = control.label;
  button.addEventListener('click', async () => {
    try {
      const before = shownValues();
      const shelfBefore = lastShelf;
      const changes = await afterChange(await post('/api/button', { id: control.id }), before);
      const shelf = await refreshShelf();
      say(...pressOutcome(control.label, shelfBefore, shelf, changes));
    } catch (error) {
      say(`${control.label} failed: ${error.message}`, true);
    }
  });
  return button;
}

function pressOutcome(label, before, after, changes) {
  if (after.error) return [`${label}: ${after.error}`, true];
  const known = new Set(before?.presets.map((preset) => preset.id));
  const added = after.presets.filter((preset) => !known.has(preset.id));
  if (added.length) return [`Preset added: "${added.map((preset) => preset.name).join('", "')}".`];
  if (after.open && !before?.open) return ['Preset shelf opened.'];
  if (changes) return [changes];
  return [`${label}: nothing changed.`];
}

// The preview: a click re-centres, a dragged box zooms into the box. Both
// reach the module as the press point and the box's corners in preview pixels.
function previewControl(control) {
  const frame = document.createElement('div');
  frame.className = 'preview';
  const canvas = document.createElement('canvas');
  canvas.id = 'preview';
  canvas.width = control.width;
  canvas.height = control.height;
  canvas.title = 'Click to centre here; drag a box to zoom into it. The wheel zooms around the pointer, a right-click zooms out. Arrow keys move the view, + and - zoom.';
  canvas.tabIndex = 0;
  canvas.setAttribute('role', 'img');
  canvas.setAttribute('aria-label', 'Preview of the view at time 0: click to centre there, drag a box to zoom into it, the wheel or a right-click zooms; arrow keys move the view, + and - zoom in and out');
  canvas.dataset.draws = '0';
  const band = document.createElement('div');
  band.className = 'band';
  const busy = document.createElement('span');
  busy.className = 'busy';
  busy.textContent = 'Drawing…';
  frame.append(canvas, band, busy);

  const pixelAt = (event) => {
    const box = canvas.getBoundingClientRect();
    const clamp = (v, size) => Math.min(size - 1, Math.max(0, Math.floor(v)));
    return {
      x: clamp((event.clientX - box.left - canvas.clientLeft) * canvas.width / canvas.clientWidth, canvas.width),
      y: clamp((event.clientY - box.top - canvas.clientTop) * canvas.height / canvas.clientHeight, canvas.height),
    };
  };
  const showBand = (from, to) => {
    const scale = canvas.clientWidth / canvas.width;
    Object.assign(band.style, {
      display: 'block',
      left: `${canvas.clientLeft + Math.min(from.x, to.x) * scale}px`,
      top: `${canvas.clientTop + Math.min(from.y, to.y) * scale}px`,
      width: `${(Math.abs(to.x - from.x) + 1) * scale}px`,
      height: `${(Math.abs(to.y - from.y) + 1) * scale}px`,
    });
  };

  let start = null;
  canvas.addEventListener('pointerdown', (event) => {
    if (event.button !== 0) return;
    canvas.setPointerCapture(event.pointerId);
    start = { ...pixelAt(event), view: shownView };
    event.preventDefault();
  });
  canvas.addEventListener('pointermove', (event) => {
    if (start) showBand(start, pixelAt(event));
  });
  canvas.addEventListener('pointerup', (event) => {
    if (!start) return;
    const from = start;
    start = null;
    band.style.display = 'none';
    gesture(from, pixelAt(event), from.view);
  });
  // Zooming without a drawn box: a box of the preview's size times the
  // scale, centred on a pixel. The module zooms into a box smaller than the
  // preview and out of a larger one (its larger side becomes the width), and
  // centres the view on the box's centre.
  const zoomAround = (at, scale) => {
    const side = (length) => Math.max(3, Math.round(length * scale));
    const [width, height] = [side(canvas.width), side(canvas.height)];
    const from = { x: at.x - (width >> 1), y: at.y - (height >> 1) };
    return gesture(from, { x: from.x + width - 1, y: from.y + height - 1 }, shownView, at);
  };
  // The keyboard works the same gestures: an arrow key is a click an eighth
  // of the preview off the centre, + and - boxes of half and twice its size.
  canvas.addEventListener('keydown', (event) => {
    const centre = { x: canvas.width >> 1, y: canvas.height >> 1 };
    const offsets = { ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1] };
    const scales = { '+': 1 / 2, '=': 1 / 2, '-': 2, _: 2 };
    if (event.ctrlKey || event.metaKey || event.altKey) return;
    if (event.key in offsets) {
      const [dx, dy] = offsets[event.key];
      const at = { x: centre.x + Math.round(dx * canvas.width / 8), y: centre.y + Math.round(dy * canvas.height / 8) };
      gesture(at, at, shownView);
    } else if (event.key in scales) {
      zoomAround(centre, scales[event.key]);
    } else {
      return;
    }
    event.preventDefault();
  });
  canvas.addEventListener('contextmenu', (event) => {
    event.preventDefault();
    zoomAround(pixelAt(event), 2);
  });

  // The wheel: each notch away from the user zooms in twice around the
  // pointer, each towards the user out. Notches that come while a gesture
  // or a redraw is under way wait for it and then go as one box (of up to
  // three notches), so that a fast wheel or a touchpad's stream of small
  // steps makes a few gestures, each on the image shown.
  const kNotch = 100;  // pixels of wheel travel; the first after a pause counts whole
  const kPauseMs = 250;
  const kNotchesPerBox = 3;
  let travel = 0, notches = 0, wheelAt = null, lastWheel = -Infinity, wheeling = false;
  const zoomByWheel = async () => {
    if (wheeling) return;
    wheeling = true;
    try {
      while (notches !== 0) {
        if (redrawing) await redrawing;
        const taken = Math.max(-kNotchesPerBox, Math.min(kNotchesPerBox, notches));
        notches -= taken;
        await zoomAround(wheelAt, 2 ** taken);
      }
    } finally {
      wheeling = false;
    }
  };
  canvas.addEventListener('wheel', (event) => {
    event.preventDefault();
    const moved = event.deltaY * [1, 40, canvas.clientHeight][event.deltaMode];
    const paused = event.timeStamp - lastWheel > kPauseMs;
    lastWheel = event.timeStamp;
    travel = paused ? Math.sign(moved) * Math.max(Math.abs(moved), kNotch) : travel + moved;
    const whole = Math.trunc(travel / kNotch);
    travel -= whole * kNotch;
    notches += whole;
    wheelAt = pixelAt(event);
    zoomByWheel();
  }, { passive: false });
  canvas.addEventListener('pointercancel', () => {
    start = null;
    band.style.display = 'none';
  });
  preview = canvas;
  return frame;
}

// A click (from equal to to) or a box, made on the given view; the module
// measures the press point and the box in preview pixels. The press point
// lies on the preview; a box larger than the preview may reach beyond it.
async function gesture(from, to, view, press = from) {
  try {
    const before = shownValues();
    const answer = await post('/api/zoom', { x: press.x, y: press.y, x0: from.x, y0: from.y, x1: to.x, y1: to.y, view });
    say((await afterChange(answer, before)) || 'The view did not change: that is its centre already.');
  } catch (error) {
    if (error.stale) say('That gesture was made on an image that was being replaced, so it was dropped; try again on this one.', true);
    else say(`The preview did not take that: ${error.message}`, true);
  }
}

// Draws the preview and returns the version of the view it shows; the
// redraw that asks for it counts as in flight meanwhile.
async function drawPreview() {
  const { headers, body } = await request('/api/preview', {},
    async (answer) => ({ headers: answer.headers, body: await answer.arrayBuffer() }));
  const view = Number(headers.get('X-View-Version'));
  if (!preview) return view;
  const width = Number(headers.get('X-Preview-Width'));
  const height = Number(headers.get('X-Preview-Height'));
  const rgb = new Uint8Array(body);
  const image = new ImageData(width, height);
  for (let source = 0, target = 0; source < rgb.length; source += 3, target += 4) {
    image.data[target] = rgb[source];
    image.data[target + 1] = rgb[source + 1];
    image.data[target + 2] = rgb[source + 2];
    image.data[target + 3] = 255;
  }
  preview.getContext('2d').putImageData(image, 0, 0);
  return view;
}

async function readPanel() {
  return request('/api/panel', {}, readJson);
}

// The history of the view is the server's, one for every page open on the
// panel: the buttons follow the steps it says there are. In a text field
// Ctrl+Z is the field's own.
const historyButtons = {
  back: document.getElementById('history-back'),
  forward: document.getElementById('history-forward'),
  reset: document.getElementById('history-reset'),
};

function showHistory(history) {
  for (const [step, button] of Object.entries(historyButtons)) button.disabled = !history[step];
}

async function goInHistory(step) {
  const name = historyButtons[step].textContent;
  try {
    const before = shownValues();
    const changes = await afterChange(await post('/api/history', { step }), before);
    say(changes ? `${name}: ${changes}` : `${name}: there is no step to go to.`);
  } catch (error) {
    say(`${name} failed: ${error.message}`, true);
  }
}

for (const [step, button] of Object.entries(historyButtons)) button.addEventListener('click', () => goInHistory(step));
document.addEventListener('keydown', (event) => {
  if (!(event.ctrlKey || event.metaKey) || event.altKey || event.target.closest?.('input')) return;
  const key = event.key.toLowerCase();
  const step = key === 'z' ? (event.shiftKey ? 'forward' : 'back') : key === 'y' ? 'forward' : null;
  if (!step) return;
  event.preventDefault();
  goInHistory(step);
});

function build(panel) {
  showHistory(panel.history);
  document.title = `${panel.title} panel`;
  document.getElementById('title').textContent = panel.title;
  document.getElementById('scene').textContent = `Saves to ${panel.scene}`;
  let buttons = null;
  for (const control of panel.controls) {
    if (control.type === panel.controlTypes.button) {
      if (!buttons) {
        buttons = document.createElement('div');
        buttons.className = 'buttons';
        form.append(buttons);
      }
      buttons.append(buttonControl(control));
      continue;
    }
    buttons = null;
    if (control.type === panel.controlTypes.preview && !preview) form.append(previewControl(control));
    else if (control.type === panel.controlTypes.value) form.append(valueControl(control));
  }
}

// The preset shelf drawer: shown while the shelf is open for this panel's
// instance, with the presets it can take. It is re-read after every action
// of the page and every change event, and rebuilt only when it differs.
const shelfDrawer = document.getElementById('shelf');
const presetList = document.getElementById('presets');
let lastShelf = null;

async function shelfAction(path, body, done) {
  try {
    const answer = await post(path, body);
    await refreshShelf();
    if (answer.error) say(answer.error, true);
    else say(done(answer));
    return answer;
  } catch (error) {
    say(error.message, true);
    await refreshShelf().catch(() => {});
    return null;
  }
}

function presetItem(preset, longestName) {
  const item = document.createElement('li');
  item.className = 'preset';
  item.dataset.id = preset.id;
  const apply = document.createElement('button');
  apply.type = 'button';
  apply.className = 'apply';
  apply.title = 'Apply this preset';
  apply.setAttribute('aria-label', `Apply ${preset.name}`);
  const thumbnail = document.createElement('img');
  // The list is kept while the drawer is closed; its thumbnails load once it is shown.
  thumbnail.loading = 'lazy';
  thumbnail.src = `/api/shelf/thumbnail?id=${preset.id}`;
  thumbnail.width = thumbnail.height = 128;
  thumbnail.alt = preset.name;
  apply.append(thumbnail);
  apply.addEventListener('click', async () => {
    const before = shownValues();
    const answer = await shelfAction('/api/shelf/apply', { id: preset.id }, () => `Applied "${preset.name}".`);
    if (answer) await afterChange(answer, before);
  });

  const name = document.createElement('input');
  name.type = 'text';
  name.className = 'name';
  name.value = preset.name;
  name.maxLength = longestName;
  name.setAttribute('aria-label', `Name of preset ${preset.id}`);
  name.addEventListener('keydown', (event) => { if (event.key === 'Enter') name.blur(); });
  name.addEventListener('change', () => shelfAction('/api/shelf/rename', { id: preset.id, name: name.value },
    (answer) => `Renamed "${preset.name}" to "${answer.name}".`));

  const created = document.createElement('span');
  created.className = 'created';
  created.textContent = preset.created.replace('T', ' ').replace('Z', ' UTC');

  const remove = document.createElement('button');
  remove.type = 'button';
  remove.className = 'delete';
  remove.textContent = 'Delete';
  remove.setAttribute('aria-label', `Delete ${preset.name}`);
  remove.addEventListener('click', () => {
    if (window.confirm(`Delete the preset "${preset.name}"?`)) {
      shelfAction('/api/shelf/delete', { id: preset.id }, () => `Deleted "${preset.name}".`);
    }
  });
  item.append(apply, name, created, remove);
  return item;
}

// The presets whose settings are the instance's now are marked; the marks
// change without a rebuild, so that a name being edited stays.
function markCurrent(ids) {
  for (const item of presetList.children) {
    if (ids.includes(Number(item.dataset.id))) item.setAttribute('aria-current', 'true');
    else item.removeAttribute('aria-current');
  }
}

async function refreshShelf() {
  const shelf = await request('/api/shelf', {}, readJson);
  const { current = [], ...listing } = shelf;
  const { current: _, ...lastListing } = lastShelf ?? {};
  lastShelf = shelf;
  if (JSON.stringify(listing) !== JSON.stringify(lastListing)) showShelf(shelf);
  markCurrent(current);
  return shelf;
}

function showShelf(shelf) {
  document.getElementById('no-shelf').hidden = shelf.available;
  shelfDrawer.hidden = !shelf.open;
  const problem = document.getElementById('shelf-error');
  problem.textContent = shelf.error ?? '';
  problem.hidden = !shelf.error;
  document.getElementById('shelf-empty').hidden = shelf.presets.length > 0 || Boolean(shelf.error);
  presetList.replaceChildren(...shelf.presets.map((preset) => presetItem(preset, shelf.longestName)));
}

const closeShelf = () => shelfAction('/api/shelf/close', {}, () => 'Preset shelf closed.');
document.getElementById('shelf-close').addEventListener('click', closeShelf);
document.addEventListener('keydown', (event) => {
  if (event.key === 'Escape' && !shelfDrawer.hidden) closeShelf();
});

// When the page becomes the user's focus the host tells the module so
// (panel event 4), and the module selects its client on the shelf.
async function selectPanel() {
  try {
    await post('/api/select');
    await refreshShelf();
  } catch (error) {
    say(`The preset shelf could not be read: ${error.message}`, true);
  }
}
window.addEventListener('focus', selectPanel);

// Changes made by other pages (and this one): the view they moved to is
// drawn, and the shelf re-read. The browser reconnects by itself after the
// server restarts, and the first event then brings the page up to date.
function followChanges() {
  const changes = new EventSource('/api/events');
  changes.addEventListener('message', (event) => {
    const { view } = JSON.parse(event.data);
    redrawTo(view);
    refreshShelf().catch(() => {});
    showAnimation(view);
  });
}

document.getElementById('save').addEventListener('click', async () => {
  try {
    const answer = await post('/api/save');
    say(`Saved to ${answer.path}.`);
  } catch (error) {
    say(`Not saved: ${error.message}`, true);
  }
});

// The animation section: each value's keys (or its constant), edited as a
// scene file holds them and checked by the server as a scene load checks
// them, and a strip of frames across the scene's range, rendered as
// `qzhost render` renders them. Both follow every change, as the preview does.
const animationSection = document.getElementById('animation');
const channelList = document.getElementById('channels');
const keysStatus = document.getElementById('keys-status');
const stripList = document.getElementById('strip');
const curves = ['step', 'linear', 'smooth', 'exponential'];
let animation = null;  // the last description read; its view is the one its keys belong to
const strip = { shown: 0, wanted: 0, loading: null, side: 0, items: [] };

const seconds = (time) => `${Number(time.toPrecision(4))} s`;

// Re-reads the keys when the view has moved past the ones shown, and brings
// the strip and an enlarged frame to the view they belong to.
async function showAnimation(view) {
  if (animation && view <= animation.view) return;
  let described;
  try {
    described = await request('/api/animation', {}, readJson);
  } catch (error) {
    say(`The animation could not be read: ${error.message}`, true, keysStatus);
    return;
  }
  if (animation && described.view <= animation.view) return;
  if (!animation) buildAnimation(described);
  animation = described;
  showChannels(described);
  refreshStrip(described.view);
  drawEnlarged();
}

function buildAnimation({ frames, editTime, strip: layout }) {
  const at = (frame) => seconds(frame / frames.fps);
  document.getElementById('time-note').textContent =
    `The preview, its clicks and boxes, and the value fields above show and change the view at time ${seconds(editTime)}`
    + ` (frame ${Math.round(editTime * frames.fps)}). The scene runs from frame ${frames.first} to ${frames.last}`
    + ` at ${frames.fps} frames per second (${at(frames.first)} to ${at(frames.last)}): the keys below change the`
    + ' values over that time, and the frames show what a render gives. Click a frame to enlarge it.';
  strip.side = Math.max(layout.width, layout.height);
  strip.items = layout.frames.map((frame) => stripItem(frame, frames, layout));
  stripList.replaceChildren(...strip.items.map((item) => item.element));
  animationSection.hidden = false;
}

// A frame's pixels are the render's; the page stretches them by the pixel
// aspect, as a player of the rendered video would.
const shownAspect = (frames) => (frames.width * frames.pixelAspect) / frames.height;

function stripItem(frame, frames, layout) {
  const label = `Frame ${frame} at ${seconds(frame / frames.fps)}`;
  const button = document.createElement('button');
  button.type = 'button';
  button.className = 'frame';
  button.setAttribute('aria-label', `${label}: enlarge`);
  const image = document.createElement('img');
  image.width = layout.width;
  image.height = layout.height;
  image.style.aspectRatio = String(shownAspect(frames));
  image.alt = '';
  const caption = document.createElement('span');
  caption.textContent = `${frame} · ${seconds(frame / frames.fps)}`;
  button.append(image, caption);
  button.addEventListener('click', () => enlarge(frame, label));
  const element = document.createElement('li');
  element.append(button);
  return { frame, image, element };
}

function refreshStrip(view) {
  strip.wanted = Math.max(strip.wanted, view);
  if (!strip.loading && strip.shown < strip.wanted) strip.loading = loadStrip();
}

// One frame at a time, so that the strip never holds up the preview's
// requests; a change meanwhile starts it over for the newer view. A frame
// refused because the view moved on waits for that change's event.
async function loadStrip() {
  stripList.dataset.loading = 'true';
  document.body.dataset.pending = Number(document.body.dataset.pending) + 1;
  try {
    while (strip.shown < strip.wanted) {
      const view = strip.wanted;
      for (const item of strip.items) {
        if (strip.wanted !== view) break;
        const url = await frameImage(item.frame, strip.side, view);
        if (!url && strip.wanted === view) return;
        if (url) showImage(item.image, url);
      }
      if (strip.wanted === view) {
        strip.shown = view;
        stripList.dataset.view = view;
      }
    }
  } catch (error) {
    say(`The frames could not be rendered: ${error.message}`, true, keysStatus);
  } finally {
    strip.loading = null;
    delete stripList.dataset.loading;
    document.body.dataset.pending = Number(document.body.dataset.pending) - 1;
  }
}

// A rendered frame as an object URL, or null when the view has moved on.
async function frameImage(frame, side, view) {
  try {
    const blob = await request(`/api/animation/frame?frame=${frame}&side=${side}&view=${view}`, {}, (r) => r.blob());
    return URL.createObjectURL(blob);
  } catch (error) {
    if (error.stale) return null;
    throw error;
  }
}

function showImage(image, url) {
  const old = image.src;
  image.src = url;
  if (old.startsWith('blob:')) URL.revokeObjectURL(old);
}

// A frame enlarged in a dialog, at about the size the window shows it;
// Escape, "Close" or a click beside it closes it.
const enlarged = document.getElementById('enlarged');
const enlargedImage = document.getElementById('enlarged-image');
const enlargedNote = document.getElementById('enlarged-note');
let enlargedFrame = null;

function enlarge(frame, label) {
  enlargedFrame = frame;
  document.getElementById('enlarged-title').textContent = label;
  enlargedImage.alt = label;
  enlargedImage.style.aspectRatio = String(shownAspect(animation.frames));
  enlargedImage.style.width = `${enlargedWidth()}px`;
  enlargedImage.removeAttribute('src');
  enlarged.showModal();
  drawEnlarged();
}

// The width the dialog shows the frame at, in CSS pixels, and the longer
// side to render it at for the screen's pixels.
function enlargedWidth() {
  return Math.round(Math.min(window.innerWidth * 0.9, 1200, window.innerHeight * 0.7 * shownAspect(animation.frames)));
}

function enlargedSide() {
  const width = enlargedWidth();
  const longest = Math.max(width, width / shownAspect(animation.frames)) * window.devicePixelRatio;
  return Math.max(1, Math.min(2048, Math.round(longest)));
}

async function drawEnlarged() {
  if (!enlarged.open) return;
  const frame = enlargedFrame;
  const { view } = animation;
  enlargedNote.textContent = 'Rendering…';
  try {
    const url = await frameImage(frame, enlargedSide(), view);
    if (!url || frame !== enlargedFrame || view !== animation.view) return;
    showImage(enlargedImage, url);
    await enlargedImage.decode();
    enlargedNote.textContent = `As qzhost render --frames ${frame} --size `
      + `${enlargedImage.naturalWidth}x${enlargedImage.naturalHeight} renders it.`;
    enlarged.dataset.view = view;
  } catch (error) {
    enlargedNote.textContent = `The frame could not be rendered: ${error.message}`;
  }
}

document.getElementById('enlarged-close').addEventListener('click', () => enlarged.close());
enlarged.addEventListener('click', (event) => { if (event.target === enlarged) enlarged.close(); });
// Escape closes the dialog alone, not the shelf drawer behind it.
enlarged.addEventListener('keydown', (event) => { if (event.key === 'Escape') event.stopPropagation(); });
enlarged.addEventListener('close', () => {
  enlargedFrame = null;
  delete enlarged.dataset.view;
});

// Each value's box is rebuilt only when its block differs from the one
// shown, so that typing in another value's keys is kept; the field that had
// the focus gets it back.
function showChannels(described) {
  for (const channel of described.channels) {
    const box = channelList.querySelector(`[data-id="${channel.id}"]`);
    const text = JSON.stringify(channel.block);
    if (box?.dataset.block === text) continue;
    const focused = box?.contains(document.activeElement) ? document.activeElement.dataset.place : null;
    const built = channelBox(channel, described.frames);
    built.dataset.block = text;
    if (box) box.replaceWith(built);
    else channelList.append(built);
    if (focused) built.querySelector(`[data-place="${focused}"]`)?.focus();
  }
}

function restoreChannel(id) {
  const box = channelList.querySelector(`[data-id="${id}"]`);
  if (box) delete box.dataset.block;
  showChannels(animation);
}

// Sends the control's whole new block; the server loads it as a scene's
// state is loaded, or refuses it with the loader's reason and keeps the old.
async function sendBlock(channel, block, done) {
  try {
    const answer = await post('/api/animation/block', { id: channel.id, ...block });
    await Promise.all([showAnimation(answer.view), afterChange(answer)]);
    say(done, false, keysStatus);
  } catch (error) {
    restoreChannel(channel.id);
    say(`${channel.label} not changed: ${error.message}.`, true, keysStatus);
  }
}

function channelBox(channel, frames) {
  const box = document.createElement('fieldset');
  box.className = 'channel';
  box.dataset.id = channel.id;
  const legend = document.createElement('legend');
  const kind = document.createElement('span');
  kind.className = 'kind';
  const { keys } = channel.block;
  kind.textContent = keys ? `animated, ${keys.length} key${keys.length === 1 ? '' : 's'}` : 'not animated';
  legend.append(channel.label, ' ', kind);
  box.append(legend);
  if (!keys) {
    const { value } = channel.block;
    const note = document.createElement('p');
    note.textContent = `${value} at every frame.`;
    const times = [...new Set([frames.first / frames.fps, frames.last / frames.fps])];
    const animate = actionButton('Animate', `Animate ${channel.label}`, 'animate', () => sendBlock(channel,
      { keys: times.map((time) => ({ time, value })) }, `${channel.label} is animated: edit its keys.`));
    box.append(note, animate);
    return box;
  }
  const rows = document.createElement('div');
  rows.className = 'keys';
  for (const heading of ['Time (s)', 'Value', 'Curve to the next key', '']) {
    const cell = document.createElement('span');
    cell.className = 'heading';
    cell.textContent = heading;
    rows.append(cell);
  }
  keys.forEach((key, index) => rows.append(...keyRow(channel, keys, index)));
  const add = actionButton('Add key', `Add a key to ${channel.label}`, 'add', () => {
    const key = newKey(keys, frames);
    sendBlock(channel, { keys: ordered([...keys, key]) }, `${channel.label}: key added at ${key.time} s.`);
  });
  box.append(rows, add);
  return box;
}

function actionButton(text, label, place, action) {
  const button = document.createElement('button');
  button.type = 'button';
  button.textContent = text;
  button.setAttribute('aria-label', label);
  button.dataset.place = place;
  button.addEventListener('click', action);
  return button;
}

// Keys in time order, as the page keeps them; two at the same time stay
// for the server to refuse.
const ordered = (keys) => [...keys].sort((a, b) => a.time - b.time);

// A key in the middle of the widest stretch of the scene without one, on a
// frame where one fits, holding the value and curve of the key before it
// (or the first key's value before them all), so that it breaks no rule.
function newKey(keys, frames) {
  const points = [...new Set([frames.first / frames.fps, ...keys.map((key) => key.time), frames.last / frames.fps])]
    .sort((a, b) => a - b);
  let [from, to] = [points[0], points[0]];
  for (let i = 1; i < points.length; ++i) if (points[i] - points[i - 1] > to - from) [from, to] = [points[i - 1], points[i]];
  if (to === from) to = from + 1;  // a scene of one frame with its one key there
  const onFrame = Math.round(((from + to) / 2) * frames.fps) / frames.fps;
  const time = onFrame > from && onFrame < to ? onFrame : (from + to) / 2;
  const before = keys.filter((key) => key.time < time).at(-1);
  return before ? { time, value: before.value, curve: before.curve ?? 'linear' } : { time, value: keys[0].value };
}

function keyRow(channel, keys, index) {
  const key = keys[index];
  const name = `${channel.label} key ${index + 1}`;
  const replaced = (changed) => keys.map((k, i) => (i === index ? { ...k, ...changed } : k));
  const numberField = (field, label) => {
    const input = document.createElement('input');
    input.type = 'text';
    input.inputMode = 'decimal';
    input.autocomplete = 'off';
    input.spellcheck = false;
    input.value = String(key[field]);
    input.dataset.place = `${index}-${field}`;
    input.setAttribute('aria-label', `${name} ${label}`);
    input.addEventListener('keydown', (event) => {
      if (event.key !== 'Escape') return;
      event.stopPropagation();
      input.value = String(key[field]);
    });
    input.addEventListener('change', () => {
      const number = readNumber(input.value);
      if (number === null) {
        say(`${name}: the ${label} needs a number such as 0.5 or -1.5e-3; "${input.value.trim()}" is none. `
          + `It stays ${key[field]}.`, true, keysStatus);
        input.value = String(key[field]);
        return;
      }
      sendBlock(channel, { keys: ordered(replaced({ [field]: number })) }, `${name}: ${label} set to ${number}.`);
    });
    return input;
  };
  const curve = document.createElement('select');
  curve.dataset.place = `${index}-curve`;
  curve.setAttribute('aria-label', `${name} curve to the next key`);
  for (const option of curves) curve.add(new Option(option, option, false, option === (key.curve ?? 'linear')));
  curve.addEventListener('change', () => sendBlock(channel, { keys: replaced({ curve: curve.value }) },
    `${name}: curve set to ${curve.value}.`));
  const remove = keys.length > 1
    ? actionButton('Remove', `Remove ${name}`, `${index}-remove`, () => sendBlock(channel,
      { keys: keys.filter((_, i) => i !== index) }, `${name} removed.`))
    : actionButton('Remove', `Remove ${name}, leaving ${key.value} at every frame`, `${index}-remove`,
      () => sendBlock(channel, { value: key.value }, `${channel.label} is no longer animated; it stays ${key.value}.`));
  return [numberField('time', 'time'), numberField('value', 'value'), curve, remove];
}

(async () => {
  try {
    const panel = await readPanel();
    build(panel);
    showAnimation(panel.view);
    await redrawTo(panel.view);
  } catch (error) {
    say(`The panel could not be loaded: ${error.message}`, true);
    return;
  }
  followChanges();
  await selectPanel();
})();
