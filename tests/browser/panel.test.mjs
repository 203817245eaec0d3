// The panel page in headless Chromium: `qzhost panel` on a free port over a
// scene and shelf of its own, then the preview, clicks, a box, an edit, a save
// and the preset shelf as a user works them. Leaves screenshots in the work
// folder.
// Usage: node panel.test.mjs QZHOST MODULE WORK_FOLDER
import { spawn, spawnSync } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import assert from 'node:assert/strict';

const [qzhost, modulePath, work] = process.argv.slice(2);
const { chromium } = createRequire(path.join(work, 'package.json'))('playwright-core');

const CENTER_X = 0x8001, CENTER_Y = 0x8002, ZOOM = 0x8003, OPEN_SHELF = 0x8006, ADD_PRESET = 0x8007;
const WIDTH = 320, HEIGHT = 240;
const started = Date.now();
const failures = [];

async function check(name, body) {
  const at = Date.now();
  await body().then(() => console.log(`ok   ${name} (${Date.now() - at} ms)`), (error) => {
    failures.push(name);
    console.log(`FAIL ${name}\n${error.stack}`);
  });
}

const temp = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlux-panel-'));
const shelfFile = path.join(temp, 'shelf.sqlite');
const shelfCommand = (...args) => spawnSync(qzhost, ['presets', '--shelf', shelfFile, ...args], { encoding: 'utf8' });

// Each panel gets a shelf database of its own, never the user's.
function startPanel(scene, { shelf = shelfFile, preview = `${WIDTH}x${HEIGHT}` } = {}) {
  const child = spawn(qzhost, ['panel', scene, '--port', '0', '--preview', preview, '--shelf', shelf]);
  let output = '';
  let errors = '';
  child.stderr.on('data', (data) => { errors += data; process.stderr.write(data); });
  const address = new Promise((resolve, reject) => {
    child.stdout.on('data', (data) => {
      output += data;
      const found = output.match(/http:\/\/127\.0\.0\.1:(\d+)\//);
      if (found) resolve(found[0]);
    });
    child.on('exit', (code) => reject(new Error(`qzhost panel exited with ${code}: ${output}`)));
  });
  const exited = new Promise((resolve) => child.on('exit', (code) => resolve({ code, output })));
  return { child, address, exited, errors: () => errors };
}

// Runs `body` with the address of a panel of its own, then closes that panel
// with SIGTERM and gives its exit code, output and messages.
async function withPanel(scene, options, body) {
  const other = startPanel(scene, options);
  try {
    await body(await other.address, other);
  } finally {
    other.child.kill('SIGTERM');
  }
  return { ...await other.exited, errors: other.errors() };
}

// A request from outside the page, as a script or another program makes one.
async function get(address, route) {
  const response = await fetch(new URL(route, address));
  return { status: response.status, body: await response.text() };
}

// A scene of the Vorlux filter alone, a single frame unless `frames` says otherwise.
function writeScene(name, frames, state) {
  const file = path.join(temp, name);
  fs.writeFileSync(file, JSON.stringify({
    frames: { pixelAspect: 1, fps: 24, first: 0, last: 0, ...frames },
    filters: [{ module: path.resolve(modulePath), server: 'Vorlux', state }],
  }));
  return file;
}

const scene = writeScene('scene.json', { width: 64, height: 48 });
const panel = startPanel(scene);
const address = await panel.address;
// A fresh profile in the temporary folder; never a downloaded browser.
// A browser of its own per profile: two profiles are two users' tabs.
const launch = (profile) => chromium.launchPersistentContext(profile, {
  executablePath: '/usr/bin/chromium',
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  viewport: { width: 900, height: 700 },
  deviceScaleFactor: 1,
});
const browser = await launch(path.join(temp, 'profile')).catch((error) => { panel.child.kill('SIGTERM'); throw error; });
const page = browser.pages()[0] ?? await browser.newPage();

// Runs `body` in a tab of its own, closed afterwards.
async function inTab(body) {
  const tab = await browser.newPage();
  try {
    await body(tab);
  } finally {
    await tab.close();
  }
}

const control = (id, tab = page) => tab.locator(`#control-${id}`);
const value = async (id, tab = page) => Number(await control(id, tab).inputValue());
const shownValues = async (tab = page) => [await value(CENTER_X, tab), await value(CENTER_Y, tab), await value(ZOOM, tab)];
const draws = async (tab = page) => Number(await tab.getAttribute('#preview', 'data-draws'));
const settled = (tab = page) =>
  tab.waitForFunction(() => document.body.dataset.pending === '0' && !document.body.dataset.drawing);
const pixelAt = (x, y) => page.evaluate(([x, y]) =>
  [...document.getElementById('preview').getContext('2d').getImageData(x, y, 1, 1).data.slice(0, 3)], [x, y]);
// A checksum of the whole preview, computed in the page.
const previewSum = (tab = page) => tab.evaluate(() => {
  const canvas = document.getElementById('preview');
  const { data } = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height);
  return data.reduce((sum, byte) => (sum * 31 + byte) % 2147483647, 7);
});

// Opens `url` in the tab, or reloads the page shown, and waits for the first preview.
async function loaded(tab, url = null) {
  await (url ? tab.goto(url) : tab.reload());
  await tab.waitForFunction(() => Number(document.getElementById('preview')?.dataset.draws) > 0);
  await settled(tab);
}

// Types into a field and ends the edit with Enter, as a user does.
async function enter(field, text) {
  await field.fill(text);
  await field.press('Enter');
}

// Waits until the status line says exactly `text`.
const statusReads = (text) => page.waitForFunction((t) => document.getElementById('status').textContent === t, text);

async function openShelf(tab = page) {
  await control(OPEN_SHELF, tab).click();
  await tab.waitForSelector('#shelf', { state: 'visible' });
}

// A preset file with its settings changed by `edit`, as another program
// might have written it: the text chunk that holds them is rebuilt.
function editedPresetFile(file, edit) {
  const png = fs.readFileSync(file);
  const chunks = [png.subarray(0, 8)];
  for (let at = 8; at < png.length; at += 12 + png.readUInt32BE(at)) {
    const type = png.subarray(at + 4, at + 8);
    let data = png.subarray(at + 8, at + 8 + png.readUInt32BE(at));
    if (type.toString() === 'iTXt' && data.toString('latin1').startsWith('qzhost-preset\0')) {
      // Keyword, two flags, language and translated keyword come before the text.
      const text = data.indexOf(0, data.indexOf(0, data.indexOf(0) + 3) + 1) + 1;
      const preset = JSON.parse(data.subarray(text).toString());
      edit(preset);
      data = Buffer.concat([data.subarray(0, text), Buffer.from(JSON.stringify(preset))]);
    }
    // Length, type, data and the CRC of type and data.
    const chunk = Buffer.concat([Buffer.alloc(4), type, data, Buffer.alloc(4)]);
    chunk.writeUInt32BE(data.length);
    chunk.writeUInt32BE(zlib.crc32(chunk.subarray(4, -4)), chunk.length - 4);
    chunks.push(chunk);
  }
  return Buffer.concat(chunks);
}

// Page coordinates of the middle of a preview pixel, scrolled into view.
async function onPreview(x, y, tab = page) {
  await tab.locator('#preview').scrollIntoViewIfNeeded();
  const origin = await tab.evaluate(() => {
    const canvas = document.getElementById('preview');
    const box = canvas.getBoundingClientRect();
    return { left: box.left + canvas.clientLeft, top: box.top + canvas.clientTop };
  });
  return { x: origin.left + x + 0.5, y: origin.top + y + 0.5 };
}

async function clickOn(x, y, options = {}, tab = page) {
  const at = await onPreview(x, y, tab);
  await tab.mouse.click(at.x, at.y, options);
}

// Runs a gesture and waits until the tab's preview has been drawn again.
async function redrawnAfter(gesture, tab = page) {
  const before = await draws(tab);
  await gesture();
  await tab.waitForFunction((n) => Number(document.getElementById('preview').dataset.draws) > n, before);
  await settled(tab);
}

const clickPreview = (x, y) => redrawnAfter(() => clickOn(x, y));

// Runs `body` while the page's preview requests are held back, as a slow
// redraw would hold them, and lets them go afterwards.
async function whilePreviewsHeld(body) {
  let release;
  const held = new Promise((resolve) => { release = resolve; });
  await page.route('**/api/preview', async (route) => { await held; await route.continue().catch(() => {}); });
  try {
    await body();
  } finally {
    release();
    await page.unroute('**/api/preview');
  }
}

try {
  await check('the page shows the title and a preview of the default view', async () => {
    await loaded(page, address);
    assert.deepEqual([await page.title(), await page.textContent('h1'), await page.textContent('#scene'),
      await page.textContent(`label:has(#control-${ZOOM}) .guide`)],
      ['Vorlux panel', 'Vorlux', `Saves to ${scene}`, '1 to 65536, step 5']);
    // The centre pixel escapes after 279 iterations: colour (0.33333, 0, 0.185546875).
    assert.deepEqual(await pixelAt(WIDTH >> 1, HEIGHT >> 1), [84, 0, 47]);
    assert.deepEqual(await shownValues(), [-0.222, 0.8, 15]);
    assert.equal(await page.isVisible('#no-shelf'), false);
  });

  await check('a click at the exact centre keeps the centre', async () => {
    await clickPreview(WIDTH >> 1, HEIGHT >> 1);
    assert.deepEqual([await value(CENTER_X), await value(CENTER_Y)], [-0.222, 0.8]);
    assert.equal(await page.textContent('#status'), 'The view did not change: that is its centre already.');
  });

  await check('a click one pixel right moves Center X by one step', async () => {
    await clickPreview((WIDTH >> 1) + 1, HEIGHT >> 1);
    const moved = -0.222 + 1 * (3.2 / 15 / WIDTH);
    assert.deepEqual([await value(CENTER_X), await value(CENTER_Y)], [moved, 0.8]);
    assert.equal(await page.textContent('#status'), `Center X set to ${moved}.`);
  });

  await check('a dragged box zooms in by the preview width over the box width', async () => {
    const from = await onPreview(120, 90);
    const to = await onPreview(199, 149);  // 80 by 60 pixels: the width decides
    await redrawnAfter(async () => {
      await page.mouse.move(from.x, from.y);
      await page.mouse.down();
      await page.mouse.move(to.x, to.y, { steps: 8 });
      await page.mouse.up();
    });
    const zoom = await value(ZOOM);
    assert.ok(Math.abs(zoom - 15 * WIDTH / 80) < 1e-9, `zoom ${zoom}`);
    assert.match(await page.textContent('#status'), new RegExp(`Zoom set to ${zoom}\\.$`));
  });

  await check('editing Zoom redraws the preview', async () => {
    const before = await previewSum();
    await redrawnAfter(() => enter(control(ZOOM), '1000'));
    assert.equal(await value(ZOOM), 1000);
    assert.notEqual(await previewSum(), before);
  });

  await check('"Save scene" writes the values shown', async () => {
    const shown = await shownValues();
    await page.click('#save');
    await statusReads(`Saved to ${scene}.`);
    const state = JSON.parse(fs.readFileSync(scene, 'utf8')).filters[0].state;
    assert.deepEqual(state.map((block) => block.value), shown);
    await page.screenshot({ path: path.join(work, 'panel.png') });
  });

  const presets = () => page.locator('#presets li');
  const viewShown = async () => [...await shownValues(), await pixelAt(WIDTH >> 1, HEIGHT >> 1)];
  let saved = null;

  await check('"Add Preset" opens the shelf drawer with the view\'s thumbnail', async () => {
    assert.equal(await page.isVisible('#shelf'), false);
    saved = await viewShown();
    await control(ADD_PRESET).click();
    await presets().first().waitFor();
    await settled();
    assert.deepEqual([await presets().count(), await page.inputValue('#presets li input.name'),
      await page.textContent('#status')], [1, 'Preset 1', 'Preset added: "Preset 1".']);
    assert.match(await page.textContent('#presets li .created'), /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC$/);
    await page.waitForFunction(() => document.querySelector('#presets img')?.naturalWidth === 128);
    await page.screenshot({ path: path.join(work, 'panel-shelf.png') });
  });

  await check('applying the preset from the drawer restores the view', async () => {
    await clickPreview(20, 30);
    await redrawnAfter(() => enter(control(ZOOM), '40'));
    assert.notDeepEqual(await viewShown(), saved);
    await redrawnAfter(() => page.click('#presets li .apply'));
    assert.deepEqual(await viewShown(), saved);
    assert.match(await page.textContent('#status'), /Applied "Preset 1"/);
  });

  await check('a renamed preset keeps its name on the shelf', async () => {
    const name = page.locator('#presets li input.name');
    await enter(name, ' ');
    await page.waitForSelector('#status.error:text-is("a preset name must be 1 to 100 characters")');
    await enter(name, 'Seahorse');
    await statusReads('Renamed "Preset 1" to "Seahorse".');
    assert.match(shelfCommand('list').stdout, /^1 {2}Seahorse {2}\(PixelFilterHandler Vorlux, /);
  });

  await check('a preset is deleted once confirmed, and the drawer closes', async () => {
    page.once('dialog', (dialog) => dialog.dismiss());
    await page.click('#presets li .delete');
    await settled();
    assert.equal(await presets().count(), 1);
    page.once('dialog', (dialog) => dialog.accept());
    await page.click('#presets li .delete');
    await page.waitForSelector('#status:has-text("Deleted")');
    assert.deepEqual([await presets().count(), await page.isVisible('#shelf-empty')], [0, true]);
    await page.click('#shelf-close');
    await page.waitForSelector('#shelf', { state: 'hidden' });
    await statusReads('Preset shelf closed.');
    await openShelf();
    await statusReads('Preset shelf opened.');
  });

  await check('a second panel on the same port is refused, not let to share it', async () => {
    const { port } = new URL(address);
    const second = spawnSync(qzhost, ['panel', scene, '--port', port, '--shelf', shelfFile], { encoding: 'utf8' });
    assert.equal(second.status, 2);
    assert.equal(second.stderr, `qzhost: cannot listen on 127.0.0.1:${port} (is the port in use? --port 0 picks a free one)\n`);
  });

  await check('a change in one tab is drawn in every other tab, and a save there keeps it', async () => {
    const other = await launch(path.join(temp, 'profile-b'));
    try {
      const tab = other.pages()[0] ?? await other.newPage();
      await loaded(tab, address);
      await redrawnAfter(() => clickPreview(40, 200), tab);
      assert.deepEqual(await shownValues(tab), await shownValues());
      assert.equal(await previewSum(tab), await previewSum());
    } finally {
      await other.close();
    }
  });

  await check('a second click on an image still being replaced is dropped, not applied to the new view', async () => {
    await settled();
    const x = await value(CENTER_X);
    const at = await onPreview((WIDTH >> 1) + 10, HEIGHT >> 1);
    // The first click's redraw is held back, as a slow one would be, until
    // the second click is in.
    await whilePreviewsHeld(async () => {
      await page.mouse.dblclick(at.x, at.y);
      await page.waitForSelector('#status:has-text("dropped")');
    });
    await settled();
    assert.equal(await value(CENTER_X), x + 10 * (3.2 / await value(ZOOM) / WIDTH));
  });

  await check('a pending redraw is shown over the old image, which stays', async () => {
    await whilePreviewsHeld(async () => {
      const before = await previewSum();
      await clickOn(30, 30);
      await page.waitForSelector('.busy', { state: 'visible' });
      assert.equal(await previewSum(), before);
      // The page still answers the user meanwhile.
      await control(CENTER_Y).fill('0.25');
      assert.equal(await control(CENTER_Y).inputValue(), '0.25');
      await control(CENTER_Y).press('Escape');
    });
    await page.waitForSelector('.busy', { state: 'hidden' });
    await settled();
  });

  await check('value fields take any real number, step relative to the value, and Escape restores', async () => {
    const field = control(CENTER_X);
    const typed = async (text) => { await redrawnAfter(() => enter(field, text)); return value(CENTER_X); };
    assert.equal(await typed('-0.7465'), -0.7465);
    await redrawnAfter(() => field.press('ArrowUp'));
    assert.equal(await value(CENTER_X), -0.7365);
    await redrawnAfter(() => field.press('ArrowDown'));
    assert.equal(await value(CENTER_X), -0.7465);
    assert.equal(await typed('0,5'), 0.5);
    assert.equal(await typed('-1.25e-1'), -0.125);
    // The wheel over a focused field scrolls the page and leaves the value.
    await field.focus();
    await field.hover();
    await page.mouse.wheel(0, 200);
    await field.fill('7');
    await field.press('Escape');
    assert.equal(await field.inputValue(), '-0.125');
    assert.equal(await page.textContent('#status'), 'Center X left at -0.125.');
    for (const text of ['1..2', '1e999']) {
      await enter(field, text);
      await page.waitForSelector(`#status.error:has-text("${text}")`);
      assert.equal(await page.textContent('#status'),
        `Center X needs a number such as 0.5 or -1.5e-3; "${text}" is none. It stays -0.125.`);
      assert.equal(await field.inputValue(), '-0.125');
    }
    await settled();
    // Each field shows the shortest text that reads back as the server's double.
    await clickPreview(3, 7);
    const served = await page.evaluate(async () => (await (await fetch('/api/panel')).json()).controls);
    for (const { id, value: number } of served.filter((c) => 'value' in c)) {
      assert.equal(await control(id).inputValue(), String(number));
    }
  });

  await check('the preview and the shelf work from the keyboard and name themselves', async () => {
    const preview = page.getByRole('img', { name: /^Preview of the view at time 0/ });
    await preview.focus();
    const [x, y, zoom] = await shownValues();
    await redrawnAfter(() => page.keyboard.press('ArrowRight'));
    assert.ok(Math.abs(await value(CENTER_X) - (x + (WIDTH / 8) * (3.2 / zoom / WIDTH))) < 1e-12);
    assert.equal(await value(CENTER_Y), y);
    await redrawnAfter(() => page.keyboard.press('ArrowLeft'));
    assert.ok(Math.abs(await value(CENTER_X) - x) < 1e-12);
    // Up is where a click an eighth above the centre goes: one below comes back.
    await redrawnAfter(() => page.keyboard.press('ArrowUp'));
    await clickPreview(WIDTH / 2, HEIGHT / 2 + HEIGHT / 8);
    assert.ok(Math.abs(await value(CENTER_Y) - y) < 1e-12);
    await preview.focus();
    await redrawnAfter(() => page.keyboard.press('ArrowDown'));
    assert.ok(Math.abs(await value(CENTER_Y) - (y - (HEIGHT / 8) * (3.2 / zoom / WIDTH))) < 1e-12);
    await redrawnAfter(() => page.keyboard.press('+'));
    assert.ok(Math.abs(await value(ZOOM) - 2 * zoom) < 1e-9);
    await control(ADD_PRESET).click();
    await page.waitForSelector('#status:has-text("Preset added")');
    const name = await page.inputValue('#presets li:last-child input.name');
    assert.equal(await page.getByRole('button', { name: `Delete ${name}`, exact: true }).count(), 1);
    assert.equal(await page.getByRole('button', { name: `Apply ${name}`, exact: true }).count(), 1);
  });

  const near = (actual, expected) => Math.abs(actual - expected) <= 1e-9 * Math.abs(expected);
  // Runs an action that should change the view once, and checks it was drawn once.
  async function drawnOnceAfter(action) {
    const before = await draws();
    await redrawnAfter(action);
    assert.equal(await draws(), before + 1);
  }

  await check('history steps back and forward through values, clicks and presets, and Reset opens the first view', async () => {
    await redrawnAfter(() => enter(control(ZOOM), '25'));
    const typed = await shownValues();
    await clickPreview(100, 100);
    const clicked = await shownValues();
    await redrawnAfter(() => page.click('#presets li:last-child .apply'));
    assert.notDeepEqual(await shownValues(), clicked);
    await drawnOnceAfter(() => page.click('#history-back'));
    assert.deepEqual(await shownValues(), clicked);
    assert.match(await page.textContent('#status'), /^Back: Center X set to /);
    // Outside the value fields Ctrl+Z, and Ctrl+Shift+Z or Ctrl+Y, step through the view's history.
    await page.focus('#preview');
    for (const forward of ['Control+Shift+Z', 'Control+y']) {
      await drawnOnceAfter(() => page.keyboard.press('Control+z'));
      assert.deepEqual(await shownValues(), typed);
      await drawnOnceAfter(() => page.keyboard.press(forward));
      assert.deepEqual(await shownValues(), clicked, forward);
    }
    assert.equal(await page.isDisabled('#history-forward'), false);
    await drawnOnceAfter(() => page.click('#history-reset'));
    assert.deepEqual(await shownValues(), [-0.222, 0.8, 15]);
    assert.deepEqual([await page.isDisabled('#history-back'), await page.isDisabled('#history-forward'),
      await page.isDisabled('#history-reset')], [false, true, true]);
    await page.keyboard.press('Control+y');
    await statusReads('Forward: there is no step to go to.');
    await drawnOnceAfter(() => page.click('#history-back'));
    assert.deepEqual(await shownValues(), clicked);
  });

  await check('a right-click, - and the wheel zoom out around the pointer or centre; fast notches make few gestures', async () => {
    const [x, y, zoom] = await shownValues();
    const step = 3.2 / zoom / WIDTH;
    await redrawnAfter(() => clickOn(200, 60, { button: 'right' }));
    assert.ok(near(await value(ZOOM), zoom / 2), `zoom ${await value(ZOOM)}`);
    assert.equal(await value(CENTER_X), x + (200 - (WIDTH >> 1)) * step);
    assert.equal(await value(CENTER_Y), y + (60 - (HEIGHT >> 1)) * -step);
    await page.focus('#preview');
    await redrawnAfter(() => page.keyboard.press('-'));
    assert.ok(near(await value(ZOOM), zoom / 4));
    const centre = await onPreview(WIDTH >> 1, HEIGHT >> 1);
    await page.mouse.move(centre.x, centre.y);
    await redrawnAfter(() => page.mouse.wheel(0, -100));
    assert.ok(near(await value(ZOOM), zoom / 2));

    const gestures = [];
    const count = (request) => { if (request.url().endsWith('/api/zoom')) gestures.push(request.url()); };
    page.on('request', count);
    // Six notches towards the user while the first one's redraw is slow.
    await whilePreviewsHeld(async () => {
      for (let notch = 0; notch < 6; notch += 1) await page.mouse.wheel(0, 100);
    });
    await page.waitForFunction((expected) => Math.abs(Number(document.getElementById('control-32771').value)
      - expected) <= 1e-9 * expected, zoom / 2 / 64);
    await settled();
    page.off('request', count);
    assert.equal(gestures.length, 3, 'one gesture, then the other five notches in boxes of up to three');
  });

  await check('the shelf marks the preset that holds the values shown, after a change from any page', async () => {
    const current = () => page.evaluate(() => [...document.querySelectorAll('#presets li[aria-current="true"]')]
      .map((item) => item.querySelector('input.name').value));
    const name = await page.inputValue('#presets li:last-child input.name');
    await redrawnAfter(() => page.click('#presets li:last-child .apply'));
    await page.waitForFunction(() => document.querySelector('#presets li[aria-current]'));
    assert.deepEqual(await current(), [name]);
    // As another page would: the change reaches this one through the change events.
    await page.evaluate((id) => fetch('/api/value', { method: 'POST', headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ id, value: 3 }) }), ZOOM);
    await page.waitForFunction(() => !document.querySelector('#presets li[aria-current]'));
    await page.waitForFunction((id) => document.getElementById(`control-${id}`).value === '3', ZOOM);
    await settled();
    await redrawnAfter(() => page.click('#history-back'));
    await page.waitForFunction(() => document.querySelector('#presets li[aria-current]'));
    assert.deepEqual(await current(), [name]);
  });

  await check('a preset the module refuses is reported as an error and changes nothing', async () => {
    const exported = path.join(temp, 'exported.png'), refused = path.join(temp, 'refused.png');
    const id = shelfCommand('list').stdout.match(/^(\d+) /m)[1];
    assert.equal(shelfCommand('export', id, exported).status, 0);
    fs.writeFileSync(refused, editedPresetFile(exported, (preset) => {
      preset.name = 'Refused';
      preset.settings.find((block) => block.channel === 'Zoom').value = 'deep';
    }));
    assert.equal(shelfCommand('import', refused).status, 0);
    await loaded(page);
    if (!await page.isVisible('#shelf')) await openShelf();
    const values = await shownValues();
    await page.getByRole('button', { name: 'Apply Refused', exact: true }).click();
    await page.waitForSelector('#status.error:has-text("the module refused the preset")');
    await settled();
    assert.deepEqual(await shownValues(), values);
  });

  await check('what the server refuses is said as an error, and the view stays', async () => {
    // At Zoom 0 a click would put the centre at infinity.
    await redrawnAfter(() => enter(control(ZOOM), '0'));
    const values = await shownValues();
    await clickOn(10, 10);
    await page.waitForSelector('#status.error:has-text("The preview did not take that: ")');
    await settled();
    assert.deepEqual(await shownValues(), values);
    // A scene file that has become a folder cannot be saved over.
    fs.renameSync(scene, `${scene}.kept`);
    fs.mkdirSync(scene);
    try {
      await page.click('#save');
      await page.waitForSelector('#status.error:has-text("Not saved: cannot write")');
    } finally {
      fs.rmdirSync(scene);
      fs.renameSync(`${scene}.kept`, scene);
    }
    await redrawnAfter(() => page.click('#history-back'));
    // A preview the server cannot draw after a change made elsewhere.
    await page.route('**/api/preview', (route) => route.fulfill({ status: 500, body: 'not JSON' }));
    try {
      await page.evaluate(() => fetch('/api/history', { method: 'POST', headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ step: 'forward' }) }));
      await page.waitForSelector('#status.error:text-is("The preview could not be drawn: Internal Server Error")');
    } finally {
      await page.unroute('**/api/preview');
    }
  });

  await check('the page fits 360 px and 1280 px windows, with the shelf in view at 400 px', async () => {
    const missing = [];
    page.on('response', (response) => { if (response.status() === 404) missing.push(response.url()); });
    const offScreen = () => page.evaluate(() => [...document.querySelectorAll('button, input, canvas, #shelf')]
      .filter((element) => element.getClientRects().length > 0)
      .filter((element) => {
        const box = element.getBoundingClientRect();
        return box.left < 0 || box.right > document.documentElement.clientWidth;
      })
      .map((element) => element.id || element.className || element.tagName));
    for (const width of [360, 400, 1280]) {
      await page.setViewportSize({ width, height: 760 });
      await loaded(page);
      // Escape closes the drawer.
      if (await page.isVisible('#shelf')) await page.keyboard.press('Escape');
      await page.waitForSelector('#shelf', { state: 'hidden' });
      assert.deepEqual(await offScreen(), [], `off-screen at ${width} px`);
      assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth), `wider than ${width} px`);
      await page.screenshot({ path: path.join(work, `panel-${width}.png`), fullPage: true });
      // Opening a drawer that holds presets adds none.
      await openShelf();
      await statusReads('Preset shelf opened.');
      assert.deepEqual(await offScreen(), [], `off-screen with the shelf at ${width} px`);
      await page.screenshot({ path: path.join(work, `panel-${width}-shelf.png`), fullPage: true });
    }
    assert.deepEqual(missing, []);
    // The browser asks for /favicon.ico unless the page names an icon it may load.
    assert.ok(await page.evaluate(() => new Promise((resolve) => {
      const icon = Object.assign(new Image(), { onload: () => resolve(true), onerror: () => resolve(false) });
      icon.src = document.querySelector('link[rel~="icon"]')?.href ?? '/favicon.ico';
    })), 'the page names no icon it can load');
    await page.setViewportSize({ width: 900, height: 700 });
  });

  await check('a preview wider than a 360 px window shrinks to fit it', async () => {
    const { errors } = await withPanel(scene, { preview: '1024x1024' }, (at) => inTab(async (narrow) => {
      await narrow.setViewportSize({ width: 360, height: 760 });
      await loaded(narrow, at);
      assert.ok(await narrow.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth
        && document.getElementById('preview').getBoundingClientRect().right <= window.innerWidth));
    }));
    assert.equal(errors, '', 'a panel without changes has nothing to warn of');
  });

  // A second panel over a scene whose zoom is animated: a second's zoom
  // from 15 to 600 over 24 frames of 64x36.
  await check('the keys of an animated value are shown and edited, and the strip renders what a render gives', async () => {
    const zoomKeys = [{ time: 0, value: 15, curve: 'exponential' }, { time: 0.5, value: 600 }];
    const animated = writeScene('animated.json', { width: 64, height: 36, last: 23 }, [{ channel: 'Center.X', value: -0.222 },
      { channel: 'Center.Y', value: 0.8 }, { channel: 'Zoom', keys: zoomKeys }]);
    await withPanel(animated, {}, (at) => inTab(async (tab) => {
      // Runs an action and waits until the strip shows a view made after it.
      const stripAfter = async (action) => {
        const view = await tab.evaluate(() => Number(document.getElementById('strip')?.dataset.view ?? 0));
        await action();
        await tab.waitForFunction((v) => Number(document.getElementById('strip').dataset.view) > v, view);
        await settled(tab);
      };
      const legend = (name) => tab.textContent(`#animation fieldset:has-text("${name}") legend`);
      await stripAfter(() => tab.goto(at));
      assert.match(await tab.textContent('#time-note'), /show and change the view at time 0 s \(frame 0\)/);
      assert.match(await legend('Zoom'), /animated, 2 keys/);
      assert.match(await legend('Center X'), /not animated/);
      // The pixels of each image the strip shows, or of the PNG files given.
      const pixels = (files = null) => tab.evaluate(async (pngs) => {
        const images = pngs ? await Promise.all(pngs.map(async (png) => {
          const image = Object.assign(new Image(), { src: `data:image/png;base64,${png}` });
          await image.decode();
          return image;
        })) : [...document.querySelectorAll('#strip img')];
        return images.map((image) => {
          const canvas = Object.assign(document.createElement('canvas'), { width: image.naturalWidth, height: image.naturalHeight });
          const context = canvas.getContext('2d');
          context.drawImage(image, 0, 0);
          return Array.from(context.getImageData(0, 0, canvas.width, canvas.height).data).join();
        });
      }, files && files.map((file) => fs.readFileSync(file).toString('base64')));
      const frameNumbers = await tab.$$eval('#strip .frame span', (spans) => spans.map((s) => Number(s.textContent.split(' ')[0])));
      assert.deepEqual(frameNumbers, [0, 3, 7, 10, 13, 16, 20, 23]);
      const before = await pixels();

      const field = (name) => tab.getByRole('textbox', { name, exact: true });
      await stripAfter(() => enter(field('Zoom key 2 value'), '4000'));
      const after = await pixels();
      assert.equal(after[0], before[0], 'frame 0 lies on the unchanged key');
      for (let i = 1; i < after.length; ++i) assert.notEqual(after[i], before[i], `strip frame ${frameNumbers[i]}`);
      assert.match(await tab.textContent('#keys-status'), /Zoom key 2: value set to 4000\./);

      // A click on the preview moves the key at time 0, and the strip follows it too.
      await stripAfter(() => clickOn(10, 10, {}, tab));
      assert.notEqual((await pixels())[0], after[0]);
      const served = async (channel) => (await tab.evaluate(async () => (await fetch('/api/animation')).json())).channels[channel].block;
      await stripAfter(() => tab.click('#animation fieldset:has-text("Center X") button'));
      assert.match(await legend('Center X'), /animated, 2 keys/);
      assert.deepEqual((await served(0)).keys.map((key) => key.time), [0, 23 / 24], 'keys at the first and last frames, in seconds');

      // Bad input is refused with the scene loader's reason, and changes nothing.
      const edited = [zoomKeys[0], { time: 0.5, value: 4000 }];
      assert.deepEqual((await served(2)).keys, edited);
      await enter(field('Zoom key 1 value'), '-5');
      await tab.waitForSelector('#keys-status.error:has-text("exponential curve, which needs positive values at both ends")');
      assert.match(await tab.textContent('#keys-status'), /^Zoom not changed: .*ends\.$/);
      assert.equal(await field('Zoom key 1 value').inputValue(), '15');
      await enter(field('Zoom key 2 time'), '0');
      await tab.waitForSelector('#keys-status.error:has-text("keys[1].time must be later than keys[0].time")');
      await enter(field('Zoom key 2 time'), 'soon');
      await tab.waitForSelector('#keys-status.error:has-text("needs a number")');
      assert.equal(await field('Zoom key 2 time').inputValue(), '0.5');
      await enter(control(ZOOM, tab), '0');
      await tab.waitForSelector('#status.error:has-text("Zoom was not changed: cannot set channel \'Zoom\' to 0 at 0 s")');
      assert.deepEqual((await served(2)).keys, edited);

      // A key added in the middle of the widest stretch without one.
      await stripAfter(() => tab.click('button[aria-label="Add a key to Zoom"]'));
      assert.deepEqual((await served(2)).keys, [zoomKeys[0], { time: 0.25, value: 15, curve: 'exponential' }, edited[1]]);
      // A key whose time is moved past the next one's takes its place in time, and is removed from there.
      await stripAfter(() => enter(field('Zoom key 2 time'), '0.75'));
      assert.deepEqual((await served(2)).keys, [zoomKeys[0], edited[1], { time: 0.75, value: 15, curve: 'exponential' }]);
      await stripAfter(() => tab.click('button[aria-label="Remove Zoom key 3"]'));
      assert.deepEqual((await served(2)).keys, edited);

      // Every key's fields and the strip fit a phone's width.
      await tab.setViewportSize({ width: 360, height: 760 });
      assert.deepEqual(await tab.evaluate(() => [...document.querySelectorAll('#animation :is(button, input, select, img)')]
        .filter((element) => element.getBoundingClientRect().right > document.documentElement.clientWidth)
        .map((element) => element.getAttribute('aria-label') ?? element.tagName)), []);
      await tab.screenshot({ path: path.join(work, 'panel-animation-360.png'), fullPage: true });
      await tab.setViewportSize({ width: 900, height: 700 });

      // A frame enlarged, and closed with Escape, which leaves the drawer behind it open.
      await openShelf(tab);
      await tab.click('#strip li:nth-child(5) .frame');
      await tab.waitForFunction(() => document.getElementById('enlarged').dataset.view);
      assert.match(await tab.textContent('#enlarged-note'), /^As qzhost render --frames 13 --size 64x36 renders it\.$/);
      await tab.keyboard.press('Escape');
      await tab.waitForSelector('#enlarged', { state: 'hidden' });
      await settled(tab);
      assert.equal(await tab.isVisible('#shelf'), true);
      await tab.click('#strip li:nth-child(1) .frame');
      await tab.waitForFunction(() => document.getElementById('enlarged').dataset.view);
      assert.match(await tab.textContent('#enlarged-note'), /^As qzhost render --frames 0 --size 64x36 renders it\.$/);
      await tab.click('#enlarged-close');
      await tab.waitForSelector('#enlarged', { state: 'hidden' });

      // Saved, the keys are in the file, and rendering it gives the strip's frames.
      const shown = await pixels();
      await tab.click('#save');
      await tab.waitForSelector('#status:has-text("Saved to")');
      const saved = JSON.parse(fs.readFileSync(animated, 'utf8')).filters[0].state[2];
      assert.deepEqual(saved, { channel: 'Zoom', keys: edited });
      const rendered = path.join(temp, 'animated-frames');
      const render = spawnSync(qzhost, ['render', animated, '-o', rendered, '-q', '--threads', '1'], { encoding: 'utf8' });
      assert.equal(render.status, 0, render.stderr);
      const files = frameNumbers.map((frame) => path.join(rendered, `frame-${String(frame).padStart(4, '0')}.png`));
      assert.deepEqual(await pixels(files), shown);

      // A key's curve is chosen from the list; the last key removed leaves its value at every frame.
      await stripAfter(() => tab.selectOption('select[aria-label="Zoom key 1 curve to the next key"]', 'smooth'));
      assert.equal((await served(2)).keys[0].curve, 'smooth');
      const kept = (await served(0)).keys[0].value;
      for (const remove of ['Remove Center X key 2', 'Remove Center X key 1, leaving']) {
        await stripAfter(() => tab.click(`button[aria-label^="${remove}"]`));
      }
      assert.deepEqual(await served(0), { channel: 'Center.X', value: kept });
      assert.match(await legend('Center X'), /not animated/);
    }));
  });
} finally {
  await browser.close();
  panel.child.kill('SIGTERM');
}

await check('SIGTERM closes the panel and exits cleanly, warning of the changes not saved', async () => {
  const { code, output } = await panel.exited;
  assert.equal(code, 0);
  assert.match(output, /Panel closed/);
  assert.doesNotMatch(output, /not saved/);
  assert.match(panel.errors(), /^qzhost: the changes since the last save were not saved$/m);
});

await check('a damaged shelf database is reported and the panel works without presets', async () => {
  const damaged = path.join(temp, 'damaged.sqlite');
  fs.writeFileSync(damaged, 'these are not the bytes of a database');
  const { code } = await withPanel(scene, { shelf: damaged }, async (at, withoutShelf) => {
    assert.equal(withoutShelf.errors(), `qzhost: shelf database '${damaged}': cannot be read: file is not a database;`
      + ' the panel works without presets\n');
    assert.equal((await get(at, '/api/panel')).status, 200);
    assert.deepEqual(JSON.parse((await get(at, '/api/shelf')).body), { available: false, open: false, presets: [] });
  });
  assert.equal(code, 0);
});

await check('the preview takes the shape of the scene\'s frame, pixel aspect included', async () => {
  const wide = writeScene('wide.json', { width: 32, height: 36, pixelAspect: 2 });
  await withPanel(wide, {}, async (at) => {
    const { controls } = JSON.parse((await get(at, '/api/panel')).body);
    const shown = controls.find((control) => 'width' in control);
    assert.deepEqual([shown.width, shown.height], [WIDTH, 180]);
  });
});

fs.rmSync(temp, { recursive: true, force: true });
console.log(`${failures.length ? 'FAILED' : 'passed'} in ${Date.now() - started} ms; screenshot ${path.join(work, 'panel.png')}`);
process.exit(failures.length ? 1 : 0);
