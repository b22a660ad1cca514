// The page in headless Chromium (Debian's chromium and chromedriver) from a local static server:
// it loads, a program in the address runs, keys typed on the screen reach the machine, a SAVEd
// program and an upload survive a reload (and are downloaded and deleted), two tabs keep each
// other's files, keys typed during LOAD all arrive, the controls are calm and reachable, the view
// is remembered, the page loads offline once visited, and bad input gets a message while the
// machine runs on.
// Usage: node page.test.mjs BUILD_WEB_FOLDER [SCREENSHOT.png]
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, writeFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { startServer, startBrowser, sleep, waitFor } from './webdriver.mjs';

const folder = process.argv[2] ?? 'build/web';
const screenshot = process.argv[3];
let server, browser, scratch;

before(async () => {
  server = await startServer(folder);
  browser = await startBrowser();
  scratch = mkdtempSync(join(tmpdir(), 'lunabrik-page-'));
});
after(async () => {
  await browser?.stop();
  server?.stop();
  if (scratch) rmSync(scratch, { recursive: true, force: true });
});

const text = (id) => browser.run(`return document.getElementById('${id}').textContent`);
const screenShows = (what, pattern) => waitFor(what, async () => pattern.test(await text('screen-text')));
const messageSays = (what, pattern) => waitFor(what, async () => pattern.test(await text('message')));
async function load(query = '') {
  await browser.go(server.base + query);
  await screenShows('READY', /^READY/m);
}
async function typeOnScreen(keys) {
  await browser.keys(await browser.find('#screen'), keys);
}
const Enter = '\uE007', Tab = '\uE004';
const storageIdle = () => waitFor('storage idle', () => browser.run(`return document.body.dataset.storing === 'no'`));
// Typed through the address, as fast as possible, then READY again after the last line typed.
async function typeAndWait(lines) {
  await load('?speed=max&type=' + encodeURIComponent(lines.join('\n') + '\n'));
  const last = lines.at(-1).replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
  await screenShows(`READY after ${lines.at(-1)}`, new RegExp(`^${last}\\s*\\nREADY`, 'm'));
}

test('a program in the address is typed once READY shows, and runs', async () => {
  await load('?type=' + encodeURIComponent('10 FOR I=1 TO 3\n20 PRINT I*7;\n30 NEXT I\nRUN\n'));
  await screenShows('the program\'s output', /^ 7 +14 +21/m);
  const lines = (await text('screen-text')).split('\n').filter((l, i, all) => i < all.length - 1 || l);
  assert.equal(lines.length, 24, 'the screen as 24 lines');
  await waitFor('the speed beside the status', async () => /\d MHz/.test(await text('meter')));
  if (screenshot) writeFileSync(screenshot, await browser.screenshot());
});

test('keys typed on the screen reach the machine as the characters they give', async () => {
  await load('?speed=max');
  await typeOnScreen(`PRINT 6*6,"Ok"${Enter}`);
  await screenShows('the keys\' result', /^ 36 +Ok$/m);
  // Keys typed while paused wait for the machine to run again.
  await browser.run(`document.getElementById('pause').click()`);
  assert.equal(await text('status'), 'Paused');
  await typeOnScreen(`PRINT 5*5${Enter}`);
  assert.doesNotMatch(await text('screen-text'), /^ 25$/m);
  await browser.run(`document.getElementById('pause').click()`);
  await screenShows('the keys typed while paused', /^ 25$/m);
});

test('pasted text and a dropped program file are typed in', async () => {
  await load('?speed=max');
  // The events the browser raises for Ctrl+V on the screen and for a file dropped on it.
  const cases = [
    { event: `new ClipboardEvent('paste', { clipboardData: data, bubbles: true })`, text: 'PRINT 9*9\n', shows: /^ 81$/m },
    { event: `new DragEvent('drop', { dataTransfer: data, bubbles: true })`, file: 'PRINT 3*11\r\n', shows: /^ 33$/m },
  ];
  for (const c of cases) {
    await browser.run(`const data = new DataTransfer();
      if (arguments[0] !== null) data.setData('text/plain', arguments[0]);
      if (arguments[1] !== null) data.items.add(new File([arguments[1]], 'prog.bas'));
      document.getElementById('screen').dispatchEvent(${c.event});`, c.text ?? null, c.file ?? null);
    await screenShows(c.shows.source, c.shows);
  }
});

test('a SAVEd program and an uploaded file stay in the browser across a reload', async () => {
  await load('?speed=max&type=' + encodeURIComponent('NEW\n10 PRINT "KEPT"\nSAVE "KEEP"\n'));
  const upload = join(scratch, 'NOTE.TXT');
  writeFileSync(upload, 'a note\n');
  await browser.upload(await browser.find('#upload'), upload);
  await waitFor('both files listed', async () => /KEEP\.BAS[\s\S]*NOTE\.TXT/.test(await text('files')));
  await storageIdle();
  await load('?speed=max&type=' + encodeURIComponent('LOAD "KEEP"\nRUN\n'));
  await screenShows('the loaded program', /^KEPT$/m);
  assert.match(await text('files'), /NOTE\.TXT/);

  // Download hands over the file's bytes; Delete, once confirmed, takes it out of storage too.
  const button = (n) => `[...document.querySelectorAll('#files tr')]
    .find((r) => r.cells[0]?.textContent === 'NOTE.TXT').querySelectorAll('button')[${n}].click()`;
  await browser.run(`window.confirm = () => true;
    URL.createObjectURL = ((make) => (blob) => {
      blob.text().then((t) => { window.downloaded = t; });
      return make(blob);
    })(URL.createObjectURL);
    ${button(0)}`);
  await waitFor('the download', async () => (await browser.run('return window.downloaded')) === 'a note\n');
  await browser.run(button(1));
  await waitFor('NOTE.TXT out of the list', async () => !/NOTE\.TXT/.test(await text('files')));
  await storageIdle();
  await load();
  assert.doesNotMatch(await text('files'), /NOTE\.TXT/);
  assert.match(await text('files'), /KEEP\.BAS/);
});

test('bad input: a message, and the machine keeps running', async () => {
  const huge = join(scratch, 'huge.bin'), rom = join(scratch, 'short.rom'), binary = join(scratch, 'prog.bin');
  writeFileSync(huge, Buffer.alloc((1 << 20) + 1, 65));
  writeFileSync(rom, Buffer.alloc(1000, 0xff));
  writeFileSync(binary, Buffer.from([0x10, 0x00, 0xc3, 0x00]));
  // A megabyte does not fit in a request line; after # it never reaches the server.
  await load('?speed=max#type=' + encodeURIComponent('A'.repeat(1 << 20)));
  await messageSays('the address text refused', /too long/);
  const cases = [
    { input: '#upload', file: huge, says: /more than the files folder takes/ },
    { input: '#rom-basic', file: rom, says: /must have 16,384/ },
    { input: '#type-file', file: binary, says: /not a text file/ },
  ];
  for (const c of cases) {
    await browser.upload(await browser.find(c.input), c.file);
    await messageSays(c.says.source, c.says);
  }
  assert.doesNotMatch(await text('files'), /huge\.bin/);
  await typeOnScreen(`PRINT 40+2${Enter}`);
  await screenShows('the machine still answering', /^ 42$/m);
});

test('own ROM images are kept across a reload until the free ones are chosen again', async () => {
  await load('?speed=max');
  await browser.upload(await browser.find('#rom-font'), resolve(folder, 'font.bin'));
  await messageSays('the restart', /Started afresh with your font\.bin/);
  await screenShows('READY after the restart', /^READY/m);
  await storageIdle();
  await load('?speed=max');
  assert.match(await text('roms-in-use'), /your own font\.bin/);
  await browser.run(`document.getElementById('free-roms').click()`);
  await messageSays('the free ROMs', /free ROMs/);
  assert.equal(await text('roms-in-use'), 'the free ROMs');
  await screenShows('READY with the free ROMs', /^READY/m);
});

test('files: two tabs saving different files keep both; a reload right after SAVE keeps it', async () => {
  // Both tabs are open before either saves: each one's folder starts without the other's file.
  await load('?speed=max');
  const first = await browser.tab();
  const second = await browser.newTab();
  await browser.switchTo(second);
  await load('?speed=max');
  await browser.switchTo(first);
  await typeOnScreen(`10 PRINT "A"${Enter}SAVE "FROMA"${Enter}`);
  await screenShows('the first tab\'s SAVE done', /^SAVE "FROMA"\s*\nREADY/m);
  await browser.switchTo(second);
  await typeOnScreen(`10 PRINT "B"${Enter}SAVE "FROMB"${Enter}`);
  await screenShows('the second tab\'s SAVE done', /^SAVE "FROMB"\s*\nREADY/m);
  await waitFor('the first tab\'s file listed in the second', async () => /FROMA\.BAS/.test(await text('files')));
  await browser.closeTab();
  await browser.switchTo(first);
  await waitFor('the second tab\'s file listed in the first', async () => /FROMB\.BAS/.test(await text('files')));

  // Reloaded the moment READY shows after the SAVE: the file is kept all the same.
  await typeAndWait(['NEW', '10 PRINT "QUICK"', 'SAVE "QUICK"']);
  await load();
  assert.match(await text('files'), /FROMA\.BAS[\s\S]*FROMB\.BAS[\s\S]*QUICK\.BAS/);
});

test('keys typed ahead while LOAD reads a long program all arrive', async () => {
  const program = Array.from({ length: 150 }, (_, i) => `${(i + 1) * 10} REM ${'LINE '.repeat(6)}${i}`);
  await typeAndWait(['NEW', ...program, 'SAVE "LONG"', 'NEW']);
  await load(); // a real ABC80's pace
  await typeOnScreen(`LOAD "LONG"${Enter}PRINT 123+456+789+1011+1213${Enter}`);
  await screenShows('every key typed ahead', /^ 3592$/m);
});

test('the speed meter starts afresh at a new pace: no figure mixes two', async () => {
  await load('?speed=max');
  await waitFor('a figure at full speed', async () => /\d MHz/.test(await text('meter')));
  await sleep(500); // halfway into the next second's figure
  await browser.run(`window.figures = [];
    const meter = document.getElementById('meter');
    new MutationObserver(() => window.figures.push(meter.textContent))
      .observe(meter, { subtree: true, childList: true, characterData: true });
    const speed = document.getElementById('speed');
    speed.value = 'real';
    speed.onchange();`);
  const figures = await waitFor('a figure at a real ABC80\'s pace', async () => {
    const shown = (await browser.run('return window.figures')).filter((t) => /MHz/.test(t));
    return shown.length > 0 && shown;
  });
  for (const f of figures) assert.ok(parseFloat(f) < 10, `at a real ABC80's pace the meter shows ${f}`);
});

test('controls: a calm status region, every one reached by Tab, a true Pause label', async () => {
  await load('?speed=max');
  // The speed meter goes on changing; the live region only when the state does.
  await browser.run(`window.statusChanges = 0; window.meterChanges = 0;
    new MutationObserver(() => window.statusChanges++).observe(document.getElementById('status'), { subtree: true, childList: true, characterData: true });
    new MutationObserver(() => window.meterChanges++).observe(document.getElementById('meter'), { subtree: true, childList: true, characterData: true });`);
  await waitFor('the meter changed twice', async () => (await browser.run('return window.meterChanges')) >= 2);
  assert.equal(await browser.run('return window.statusChanges'), 0);
  const label = () => browser.run(`return document.getElementById('pause').textContent`);
  const cases = [{ status: 'Paused', label: 'Run' }, { status: 'Running as fast as possible', label: 'Pause' }];
  for (const c of cases) {
    await browser.run(`document.getElementById('pause').click()`);
    assert.deepEqual({ status: await text('status'), label: await label() }, c);
  }
  assert.equal(await browser.run('return window.statusChanges'), 2);

  // Tab from the screen goes round every control that is not disabled.
  const reached = new Set();
  await browser.run(`document.getElementById('screen').focus()`);
  for (let i = 0; i < 60; i++) {
    await browser.press(Tab);
    reached.add(await browser.run(`const e = document.activeElement;
      return e.id || e.dataset.pick || e.textContent.trim()`));
  }
  for (const name of ['speed', 'pause', 'scale', 'tv', 'full-screen', 'upload', 'type-file',
    'rom-basic', 'rom-dos', 'rom-font', 'free-roms', 'keyboard-toggle', 'rewind', 'state-save',
    'state-load', 'share', 'screen'])
    assert.ok(reached.has(name), `${name} reached by Tab (reached: ${[...reached].join(', ')})`);
});

test('a #type= link opened on the page already open is typed in', async () => {
  await load('?speed=max');
  await browser.run(`location.hash = '#type=' + encodeURIComponent('PRINT 77*11\\n')`);
  await screenShows('the hash\'s program', /^ 847$/m);
});

test('scale, 4:3 and speed are remembered across a reload', async () => {
  await load();
  await browser.run(`const set = (id, v) => { const e = document.getElementById(id);
      if (e.type === 'checkbox') e.checked = v; else e.value = v; e.dispatchEvent(new Event('change')); };
    set('scale', '2'); set('tv', true); set('speed', 'max');`);
  await load();
  const view = () => browser.run(`const $ = (id) => document.getElementById(id);
    return { scale: $('scale').value, tv: $('tv').checked, speed: $('speed').value }`);
  assert.deepEqual(await view(), { scale: '2', tv: true, speed: 'max' });
  await browser.run(`const s = document.getElementById('scale'); s.value = 'auto'; s.dispatchEvent(new Event('change'));
    const t = document.getElementById('tv'); t.checked = false; t.dispatchEvent(new Event('change'));
    const p = document.getElementById('speed'); p.value = 'real'; p.dispatchEvent(new Event('change'));`);
});

test('once visited, the page loads with its server stopped', async () => {
  const own = await startServer(folder); // an origin of its own: the other tests keep their server
  try {
    await browser.go(own.base);
    await screenShows('READY', /^READY/m);
    await waitFor('the service worker in charge', () => browser.run('return !!navigator.serviceWorker.controller'));
    own.stop();
    await waitFor('the server gone', () => fetch(own.base).then(() => false, () => true));
    await browser.go(own.base + '?speed=max&type=' + encodeURIComponent('PRINT 6*7\n'));
    await screenShows('the page offline, running', /^ 42$/m);
    // The help texts and the sample programs come from what was kept too.
    await waitFor('the help offline', async () => /Mosaic graphics/.test(await text('help-basic')));
    assert.match(await text('help-keys'), /¤/);
    await browser.run(`document.querySelector('[data-sample="GUESS.BAS"]').click()`);
    await screenShows('a sample program offline', /I AM THINKING OF A NUMBER/);
  } finally {
    own.stop();
  }
});

test('a write the browser\'s storage refuses is said on the page, and the machine goes on', async () => {
  await load('?speed=max');
  await browser.run(`IDBObjectStore.prototype.put = function () {
    throw new DOMException('The quota has been exceeded.', 'QuotaExceededError'); }`);
  await typeOnScreen(`10 PRINT "FULL"${Enter}SAVE "FULL"${Enter}`);
  await messageSays('the refusal', /did not keep FULL\.BAS \(QuotaExceededError\)/);
  await typeOnScreen(`PRINT 5+5${Enter}`);
  await screenShows('the machine still answering', /^ 10$/m);
});

test('Fit at a pixel ratio of 1.25: whole device pixels per ABC80 pixel, 4:3 as wide as it should be', async () => {
  const scaled = await startBrowser({ width: 1280, height: 1000, args: ['--force-device-scale-factor=1.25'] });
  try {
    await scaled.go(server.base);
    await waitFor('READY', () => scaled.run(`return /^READY/m.test(document.getElementById('screen-text').textContent)`));
    const picture = () => scaled.run(`const c = document.getElementById('screen'), r = c.getBoundingClientRect();
      return { width: c.width, height: c.height, cssWidth: r.width, bottom: r.bottom, room: innerHeight, ratio: devicePixelRatio }`);
    const square = await picture();
    assert.equal(square.ratio, 1.25);
    assert.ok(Math.abs(square.cssWidth * square.ratio - square.width) < 1, 'one canvas pixel a device pixel');
    assert.ok(square.height % 240 === 0 && square.width === square.height && square.height >= 480, JSON.stringify(square));
    assert.ok(square.bottom <= square.room, 'the picture fits in the window');
    await scaled.run(`const t = document.getElementById('tv'); t.checked = true; t.dispatchEvent(new Event('change'))`);
    const tv = await picture();
    assert.ok(Math.abs(tv.width - (tv.height * 4) / 3) <= 1 && tv.bottom <= tv.room, JSON.stringify(tv));
    // The on-screen keys shown: the picture shrinks so that they fit below it.
    await scaled.run(`document.getElementById('keyboard-toggle').click()`);
    const keys = () => scaled.run(`const k = document.getElementById('keyboard').getBoundingClientRect();
      return { top: k.top, bottom: k.bottom, height: k.height, room: innerHeight }`);
    await waitFor('the keys below the picture', async () => (await keys()).height > 0);
    const withKeys = await picture(), board = await keys();
    assert.ok(withKeys.height < tv.height && withKeys.bottom <= board.top && board.bottom <= board.room,
      JSON.stringify({ withKeys, board }));
  } finally {
    await scaled.stop();
  }
});
