// The panel page: builds the controls the host describes, draws the preview
// the module paints, and sends edits, clicks, boxes and presses back. Every
// open page of the panel listens to the server's change events and redraws
// when the view moves on, so that all of them show the same state.
'use strict';

const statusLine = document.getElementById('status');
const form = document.getElementById('controls');
const valueInputs = new Map();
let preview = null;

function say(text, isError = false) {
  statusLine.textContent = text;
  statusLine.classList.toggle('error', isError);
}

// Counts requests in flight on the body, so that a watcher can tell when the
// page has settled; a request is in flight until its answer is read (as
// JSON unless the reader says otherwise). A refused request throws an error
// carrying the status and whether the server found the gesture stale.
async function request(path, options, read = (response) => response.json()) {
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

async function post(path, body = {}) {
  return request(path, { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body) });
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
  const response = await request('/api/preview', {}, (answer) => answer);
  const view = Number(response.headers.get('X-View-Version'));
  if (!preview) return view;
  const width = Number(response.headers.get('X-Preview-Width'));
  const height = Number(response.headers.get('X-Preview-Height'));
  const rgb = new Uint8Array(await response.arrayBuffer());
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
  return request('/api/panel');
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
  const shelf = await request('/api/shelf');
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

(async () => {
  try {
    const panel = await readPanel();
    build(panel);
    await redrawTo(panel.view);
  } catch (error) {
    say(`The panel could not be loaded: ${error.message}`, true);
    return;
  }
  followChanges();
  await selectPanel();
})();
