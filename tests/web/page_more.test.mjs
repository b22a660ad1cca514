// The page on a phone and for sharing: the on-screen keyboard and the device's own keyboard on a
// phone-sized touch screen; a share link that carries a program to another page and, changed, to
// the open one; a state saved on the page run on by the native runner and loaded back; quick
// slots and rewind; a mouse selection copied as text; help and a sample program.
// Usage: node page_more.test.mjs BUILD_WEB_FOLDER HEADLESS_RUNNER [SCREENSHOT_FOLDER]
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, mkdirSync, writeFileSync, copyFileSync, rmSync } from 'node:fs';
import { execFileSync } from 'node:child_process';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { startServer, startBrowser, waitFor } from './webdriver.mjs';

const folder = resolve(process.argv[2] ?? 'build/web');
const runner = process.argv[3];
const shots = process.argv[4];
let server, desk, phone, scratch;

before(async () => {
  server = await startServer(folder);
  [desk, phone] = await Promise.all([startBrowser(), startBrowser({ width: 390, height: 844, mobile: true })]);
  scratch = mkdtempSync(join(tmpdir(), 'lunabrik-more-'));
});
after(async () => {
  await Promise.all([desk?.stop(), phone?.stop()]);
  server?.stop();
  if (scratch) rmSync(scratch, { recursive: true, force: true });
});

const text = (b, id) => b.run(`return document.getElementById('${id}').textContent`);
// On a timeout the error shows the screen as it was.
async function shows(b, what, pattern) {
  let screen = '';
  try {
    return await waitFor(what, async () => pattern.test(screen = await text(b, 'screen-text')));
  } catch (err) {
    throw new Error(`${err.message}; the screen:\n${screen.replace(/\n+$/, '')}`);
  }
}
const says = (b, what, pattern) => waitFor(what, async () => pattern.test(await text(b, 'message')));
const idle = (b) => waitFor('typing done', () => b.run('return document.getElementById(\'cancel\').disabled'));
async function load(b, address = '?speed=max') {
  await b.go(server.base + address);
  await shows(b, 'READY', /^READY/m);
}
const onScreen = async (b, keys) => b.keys(await b.find('#screen'), keys);
const Enter = '\uE007';

test('a phone: the on-screen keyboard and the device\'s own keyboard type, the picture fills the width', async () => {
  await load(phone);
  const look = await phone.run(`const r = document.getElementById('screen').getBoundingClientRect();
    return { keyboard: !document.getElementById('keyboard').hidden, width: r.width, room: innerWidth,
      small: [...document.querySelectorAll('#keyboard button')].filter((k) => k.getBoundingClientRect().height < 40).length }`);
  assert.ok(look.keyboard, 'the keyboard is shown on a touch screen');
  assert.ok(look.width >= 0.9 * look.room && look.width <= look.room, `picture ${look.width} of ${look.room}`);
  assert.equal(look.small, 0, 'keys large enough to touch');

  // Taps: a Swedish letter, a shifted key, Return; then Ctrl-C breaks a running program.
  const tap = async (...names) => {
    for (const n of names) await phone.click(await phone.find(`#keyboard [data-key="${n}"]`));
  };
  await tap('P', 'R', 'I', 'N', 'T', 'Shift', '2', 'Å', 'Shift', '2', 'Shift', ',', '7', 'Shift', "'", '6', 'Return');
  await shows(phone, 'Å 42 from the keys', /^Å 42$/m);
  await tap('1', '0', 'Space', 'G', 'O', 'T', 'O', 'Space', '1', '0', 'Return', 'R', 'U', 'N', 'Return');
  await shows(phone, 'RUN taken', /^RUN$/m);
  await tap('Ctrl-C');
  await shows(phone, 'the break', /BREAK IN 10/);

  // The device's keyboard through the text field: what an input method composes, mirrored as
  // it changes (a word corrected at its end, a dead key's accent not typed on its own), plain
  // text, Backspace and Enter.
  const field = await phone.find('#type-in');
  const compose = (...steps) => phone.run(`const f = document.getElementById('type-in');
    f.dispatchEvent(new CompositionEvent('compositionstart', { data: '' }));
    for (const step of arguments[0].slice(0, -1)) {
      f.value = step;
      f.dispatchEvent(new InputEvent('input', { data: step, inputType: 'insertCompositionText', isComposing: true }));
    }
    f.value = arguments[0].at(-1);
    f.dispatchEvent(new CompositionEvent('compositionend', { data: f.value }));`, steps);
  await compose('P', 'PR', 'PRI', 'PRX', 'PRINT');
  await phone.keys(field, ' 5+4X\uE003;"');
  await compose('´', 'É');
  await phone.keys(field, '"\uE007');
  await shows(phone, 'the field\'s line and its result', /^PRINT 5\+4;"É" *\n 9É$/m);
  if (shots) writeFileSync(join(shots, 'web-phone.png'), await phone.screenshot());
});

test('a share link carries the program to a new page, and a changed fragment to the open one', async () => {
  const program = (word) => `NEW\n10 FOR I=1 TO 2:PRINT "${word}";I:NEXT I\n`;
  const link = async () => {
    await idle(desk);
    await desk.run(`document.getElementById('share-link').value = ''; document.getElementById('share').click()`);
    return waitFor('the link', () => desk.run(`return document.getElementById('share-link').value`));
  };
  await load(desk, '?speed=max&type=' + encodeURIComponent(program('LÄNK')));
  const first = await link();
  assert.match(first, /#program=[\w-]+$/);
  await onScreen(desk, `NEW${Enter}20 PRINT "ANDRA"${Enter}`);
  const second = await link();
  assert.notEqual(second, first);

  // The open page: the fragment changes to the first program, which replaces the one in memory.
  await onScreen(desk, `PRINT CHR$(12);${Enter}`);
  await waitFor('a clear screen', async () => !/LÄNK/.test(await text(desk, 'screen-text')));
  await desk.run(`location.hash = arguments[0]`, new URL(first).hash);
  await shows(desk, 'the first program typed', /^10 FOR I=1 TO 2/m);
  await idle(desk);
  await onScreen(desk, `LIST${Enter}RUN${Enter}`);
  await shows(desk, 'the first program alone, and its output',
    /^LIST\n10 FOR I=1 TO 2:PRINT "LÄNK";I:NEXT I\nREADY\nRUN\nLÄNK 1\nLÄNK 2$/m);

  // A new page from the second link.
  await desk.go('about:blank');
  await desk.go(second + '&speed=max');
  await shows(desk, 'the second program typed', /^20 PRINT "ANDRA"/m);
  await idle(desk);
  await onScreen(desk, `RUN${Enter}`);
  await shows(desk, 'the second program\'s output', /^RUN\nANDRA$/m);
});

test('a state saved on the page runs on in the native runner, and its state loads on the page', { skip: !runner }, async () => {
  await load(desk, '?speed=max&type=' + encodeURIComponent('NEW\n10 PRINT "FROM THE PAGE"\nA=6\n'));
  await idle(desk);
  await desk.run(`URL.createObjectURL = ((make) => (blob) => {
      blob.arrayBuffer().then((b) => { window.downloaded = btoa(String.fromCharCode(...new Uint8Array(b))); });
      return make(blob);
    })(URL.createObjectURL);
    document.getElementById('state-save').click()`);
  const saved = await waitFor('the state file', () => desk.run('return window.downloaded'));
  const dir = join(scratch, 'runner');
  mkdirSync(dir);
  for (const f of ['basic.rom', 'dev_dos.rom', 'font.bin']) copyFileSync(join(folder, f), join(dir, f));
  writeFileSync(join(dir, 'page.lbs'), Buffer.from(saved, 'base64'));
  // The variable and the program from the page; then one more of each for the way back (a new
  // line clears the variables, so B is set after it).
  const out = execFileSync(runner, ['--dir', dir, '--load-state', join(dir, 'page.lbs'),
    '--type', 'PRINT A*7\\n', '--wait-for', ' 42', '--type', 'LIST\\n', '--wait-for', '10 PRINT "FROM THE PAGE"',
    '--type', '20 PRINT "AND THE RUNNER"\\nB=5\\n', '--save-state', join(dir, 'back.lbs'), '--screen'],
  { encoding: 'utf8' });
  assert.match(out, /^ 42$/m);

  await load(desk);
  await desk.upload(await desk.find('#state-load'), join(dir, 'back.lbs'));
  await says(desk, 'the state loaded', /Loaded back\.lbs/);
  await onScreen(desk, `PRINT B*6${Enter}RUN${Enter}`);
  await shows(desk, 'the variables and the program from the runner', /^ 30\nREADY\nRUN\nFROM THE PAGE\nAND THE RUNNER$/m);
});

test('quick slots keep a machine across a reload; rewind steps back paused', async () => {
  await load(desk, '?speed=max&type=' + encodeURIComponent('NEW\n10 PRINT "SLOT TWO"\n'));
  await idle(desk);
  await onScreen(desk, '\uE008\uE036'); // Shift+F6: save slot 2
  await says(desk, 'saved', /Saved the machine in slot 2/);
  await load(desk, '?speed=max&type=' + encodeURIComponent('NEW\n'));
  await idle(desk);
  await onScreen(desk, '\uE000\uE036'); // F6: load slot 2
  await says(desk, 'loaded', /Loaded slot 2/);
  await onScreen(desk, `RUN${Enter}`);
  await shows(desk, 'the slot\'s program', /^SLOT TWO$/m);

  // The machine's seconds since RUN on the screen: paused, one press goes back to an earlier
  // time and stays paused; running again counts on from there.
  // A pause or a rewound state may catch a line half printed, so the count goes to two lines in
  // turn, each blanked first and ended by a star: at any moment one of them is whole.
  const line = (r) => `PRINT CUR(${r},0);"        ";CUR(${r},0);X;"*";`;
  await onScreen(desk, `NEW${Enter}10 T=TIME:PRINT CHR$(12);${Enter}20 X=TIME-T:${line(0)}:${line(1)}:GOTO 20${Enter}RUN${Enter}`);
  const count = async () => {
    const whole = (await text(desk, 'screen-text')).split('\n').slice(0, 2).map((l) => /^ *(\d+(?:\.\d*)?)\*/.exec(l));
    const m = whole.find(Boolean);
    return m ? Number(m[1]) : NaN;
  };
  await waitFor('two and a half seconds of the machine\'s time', async () => (await count()) > 2.5);
  await desk.run(`document.getElementById('pause').click()`);
  await waitFor('the counter shown', async () => (await count()) > 0);
  const paused = await count();
  await desk.run(`document.getElementById('rewind').click()`);
  await says(desk, 'the rewind', /Rewound \d/);
  await waitFor('an earlier count', async () => (await count()) < paused);
  assert.equal(await text(desk, 'pause'), 'Run');
  const back = await count();
  await desk.run(`document.getElementById('pause').click()`);
  await waitFor('the counter going on', async () => (await count()) > back);
});

test('a mouse drag copies the rectangle of the screen as text; the middle button types it', async () => {
  await load(desk, '?speed=max&type=' + encodeURIComponent('PRINT "ÅÄÖ";CHR$(151);CHR$(127)\n'));
  await shows(desk, 'the printed line', /^ÅÄÖ █$/m);
  await desk.run(`window.copied = null; navigator.clipboard.writeText = async (t) => { window.copied = t; }`);
  const screen = await desk.find('#screen');
  const box = await desk.run(`const r = document.getElementById('screen').getBoundingClientRect(); return [r.width, r.height]`);
  const lines = (await text(desk, 'screen-text')).split('\n');
  const row = lines.findIndex((l) => l.startsWith('ÅÄÖ'));
  // Points in cells, from the picture's centre.
  const at = (r, c) => [Math.round((c + 0.5) * box[0] / 40 - box[0] / 2), Math.round((r + 0.5) * box[1] / 24 - box[1] / 2)];
  const cases = [
    { from: [0, 0], to: [1, 7], want: `${lines[0].slice(0, 8)}\n${lines[1].slice(0, 8)}` },
    { from: [row, 4], to: [row - 1, 0], want: `${lines[row - 1].slice(0, 5)}\nÅÄÖ █` }, // dragged up and left
  ];
  for (const c of cases) {
    await desk.run('window.copied = null');
    await desk.drag(screen, at(...c.from), at(...c.to));
    assert.equal(await waitFor('the copy', () => desk.run('return window.copied')), c.want.replace(/ +$/gm, ''));
  }
  // Where the page may not write the clipboard, the old copy command copies; where the browser
  // refuses that too, the page says so.
  await desk.run(`navigator.clipboard.writeText = async () => { throw new Error('not allowed'); };
    window.copied = null; window.copyWorks = true;
    document.execCommand = (c) => {
      window.copied = c === 'copy' && document.querySelector('body > textarea').value;
      return window.copyWorks;
    }`);
  await desk.drag(screen, at(row, 0), at(row, 4));
  assert.equal(await waitFor('the old copy', () => desk.run('return window.copied')), 'ÅÄÖ █');
  await desk.run(`window.copyWorks = false; document.getElementById('copy').click()`);
  await says(desk, 'the refusal', /Cannot copy: the browser refused/);

  // The command line, selected whole, typed again by the middle button, and only it: the old
  // command's text area above left text in the primary selection, which the browser pastes on a
  // middle click unless the page stops it.
  await desk.run(`window.copied = null; navigator.clipboard.writeText = async (t) => { window.copied = t; }`);
  await desk.drag(screen, at(row - 1, 0), at(row - 1, 39));
  await waitFor('the command copied', () => desk.run('return window.copied'));
  await desk.middleClick(screen);
  await waitFor('the command typed again', async () =>
    (await text(desk, 'screen-text')).match(/^PRINT "ÅÄÖ"/gm)?.length === 2);
  await idle(desk);
  await onScreen(desk, Enter);
  await shows(desk, 'the command run again', /^ÅÄÖ █\nREADY\nPRINT "ÅÄÖ";CHR¤\(151\);CHR¤\(127\)\nÅÄÖ █$/m);
  if (shots) writeFileSync(join(shots, 'web-desktop.png'), await desk.screenshot());
});

test('help shows the key map and the BASIC\'s summary; a sample program types in and runs', async () => {
  await load(desk);
  await waitFor('the help', async () => /Mosaic graphics/.test(await text(desk, 'help-basic')));
  assert.match(await text(desk, 'help-keys'), /¤/);
  await desk.run(`document.querySelector('[data-sample="GUESS.BAS"]').click()`);
  await shows(desk, 'the sample running', /I AM THINKING OF A NUMBER/);
});
