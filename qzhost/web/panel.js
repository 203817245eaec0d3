// The panel page: builds the controls the host describes, draws the preview
// the module paints, and sends edits, clicks, boxes and presses back.
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
// page has settled.
async function request(path, options) {
  document.body.dataset.pending = Number(document.body.dataset.pending) + 1;
  try {
    const response = await fetch(path, { cache: 'no-store', ...options });
    if (!response.ok) {
      const problem = await response.json().catch(() => ({ error: response.statusText }));
      throw new Error(problem.error);
    }
    return response;
  } finally {
    document.body.dataset.pending = Number(document.body.dataset.pending) - 1;
  }
}

async function post(path, body = {}) {
  const response = await request(path, {
    method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body),
  });
  return response.json();
}

function guideText(control) {
  const parts = [];
  if ('min' in control && 'max' in control) parts.push(`${control.min} to ${control.max}`);
  if ('step' in control) parts.push(`step ${control.step}`);
  return parts.length ? parts.join(', ') : '';
}

function showValue(input, value) {
  input.value = String(value);
  input.dataset.value = String(value);
  const below = input.min !== '' && value < Number(input.min);
  const above = input.max !== '' && value > Number(input.max);
  input.classList.toggle('outside', below || above);
  input.title = below || above ? 'Outside the suggested range; the value is kept as it is.' : '';
}

async function afterChange(answer) {
  if (answer.redraw) await refresh();
}

function valueControl(control) {
  const row = document.createElement('label');
  row.className = 'value';
  const name = document.createElement('span');
  name.textContent = control.label;
  const input = document.createElement('input');
  input.type = 'number';
  input.id = `control-${control.id}`;
  for (const attribute of ['min', 'max', 'step']) {
    if (attribute in control) input[attribute] = control[attribute];
  }
  input.addEventListener('change', async () => {
    const value = Number(input.value);
    if (input.value.trim() === '' || !Number.isFinite(value)) {
      say(`${control.label} needs a number; it stays ${input.dataset.value}.`, true);
      showValue(input, Number(input.dataset.value));
      return;
    }
    try {
      await afterChange(await post('/api/value', { id: control.id, value }));
      say(`${control.label} set to ${value}.`);
    } catch (error) {
      say(`${control.label} was not changed: ${error.message}`, true);
    }
  });
  const guide = document.createElement('span');
  guide.className = 'guide';
  guide.textContent = guideText(control);
  row.append(name, input, guide);
  valueInputs.set(control.id, input);
  showValue(input, control.value);
  return row;
}

function buttonControl(control) {
  const button = document.createElement('button');
  button.type = 'button';
  button.id = `control-${control.id}`;
  button.textContent = control.label;
  // The module's buttons work the preset shelf, so the drawer follows them.
  button.addEventListener('click', async () => {
    try {
      await afterChange(await post('/api/button', { id: control.id }));
      const shelf = await refreshShelf();
      if (shelf.error) say(`${control.label}: ${shelf.error}`, true);
      else say(`${control.label} pressed.`);
    } catch (error) {
      say(`${control.label} failed: ${error.message}`, true);
    }
  });
  return button;
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
  canvas.title = 'Click to centre here; drag a box to zoom into it.';
  canvas.dataset.draws = '0';
  const band = document.createElement('div');
  band.className = 'band';
  frame.append(canvas, band);

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
    start = pixelAt(event);
    event.preventDefault();
  });
  canvas.addEventListener('pointermove', (event) => {
    if (start) showBand(start, pixelAt(event));
  });
  canvas.addEventListener('pointerup', async (event) => {
    if (!start) return;
    const from = start;
    const to = pixelAt(event);
    start = null;
    band.style.display = 'none';
    try {
      await afterChange(await post('/api/zoom', { x: from.x, y: from.y, x0: from.x, y0: from.y, x1: to.x, y1: to.y }));
    } catch (error) {
      say(`The preview did not take that: ${error.message}`, true);
    }
  });
  canvas.addEventListener('pointercancel', () => {
    start = null;
    band.style.display = 'none';
  });
  preview = canvas;
  return frame;
}

async function drawPreview() {
  if (!preview) return;
  const response = await request('/api/preview');
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
  preview.dataset.draws = Number(preview.dataset.draws) + 1;
}

async function readPanel() {
  return (await request('/api/panel')).json();
}

// Re-reads the values and redraws the preview, as the module asked.
async function refresh() {
  const panel = await readPanel();
  for (const control of panel.controls) {
    const input = valueInputs.get(control.id);
    if (input) showValue(input, control.value);
  }
  await drawPreview();
}

function build(panel) {
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
// of the page, which is the only thing that changes the shelf meanwhile.
const shelfDrawer = document.getElementById('shelf');
const presetList = document.getElementById('presets');

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
  const thumbnail = document.createElement('img');
  thumbnail.src = `/api/shelf/thumbnail?id=${preset.id}`;
  thumbnail.width = thumbnail.height = 128;
  thumbnail.alt = preset.name;
  apply.append(thumbnail);
  apply.addEventListener('click', async () => {
    const answer = await shelfAction('/api/shelf/apply', { id: preset.id }, () => `Applied "${preset.name}".`);
    if (answer) await afterChange(answer);
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
  remove.addEventListener('click', () => {
    if (window.confirm(`Delete the preset "${preset.name}"?`)) {
      shelfAction('/api/shelf/delete', { id: preset.id }, () => `Deleted "${preset.name}".`);
    }
  });
  item.append(apply, name, created, remove);
  return item;
}

async function refreshShelf() {
  const shelf = await (await request('/api/shelf')).json();
  document.getElementById('no-shelf').hidden = shelf.available;
  shelfDrawer.hidden = !shelf.open;
  const problem = document.getElementById('shelf-error');
  problem.textContent = shelf.error ?? '';
  problem.hidden = !shelf.error;
  document.getElementById('shelf-empty').hidden = shelf.presets.length > 0 || Boolean(shelf.error);
  presetList.replaceChildren(...shelf.presets.map((preset) => presetItem(preset, shelf.longestName)));
  return shelf;
}

document.getElementById('shelf-close').addEventListener('click', () =>
  shelfAction('/api/shelf/close', {}, () => 'Preset shelf closed.'));

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
    build(await readPanel());
    await drawPreview();
  } catch (error) {
    say(`The panel could not be loaded: ${error.message}`, true);
    return;
  }
  await selectPanel();
})();
