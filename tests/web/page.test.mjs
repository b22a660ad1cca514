// The page in headless Chromium (Debian's chromium and chromedriver) from a local static server:
// it loads, a program in the address runs, keys typed on the screen reach the machine, a SAVEd
// program and an upload survive a reload (and are downloaded and deleted), and bad input gets a
// message while the machine runs on.
// Usage: node page.test.mjs BUILD_WEB_FOLDER [SCREENSHOT.png]
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, writeFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { startServer, startBrowser, waitFor } from './webdriver.mjs';

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
const Enter = '\uE007';

test('a program in the address is typed once READY shows, and runs', async () => {
  await load('?type=' + encodeURIComponent('10 FOR I=1 TO 3\n20 PRINT I*7;\n30 NEXT I\nRUN\n'));
  await screenShows('the program\'s output', /^ 7 +14 +21/m);
  const lines = (await text('screen-text')).split('\n').filter((l, i, all) => i < all.length - 1 || l);
  assert.equal(lines.length, 24, 'the screen as 24 lines');
  await waitFor('the speed in the status line', async () => /\d MHz/.test(await text('status')));
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
  await waitFor('both in storage', () => browser.run('return document.body.dataset.stored')
    .then((kept) => /KEEP\.BAS.*NOTE\.TXT/.test(kept)));
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
  await waitFor('NOTE.TXT out of storage', () => browser.run('return document.body.dataset.stored')
    .then((kept) => !/NOTE\.TXT/.test(kept)));
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
  await waitFor('the font in storage', () => browser.run(`return document.body.dataset.storing === 'no'`));
  await load('?speed=max');
  assert.match(await text('roms-in-use'), /your own font\.bin/);
  await browser.run(`document.getElementById('free-roms').click()`);
  await messageSays('the free ROMs', /free ROMs/);
  assert.equal(await text('roms-in-use'), 'the free ROMs');
  await screenShows('READY with the free ROMs', /^READY/m);
});
