// The WebAssembly build of the core under Node, through the functions the page calls: boot,
// typed text and keys, programs that run and save, speed and pause; with the desktop's headless
// runner, machine code run by both to the same machine.
// Usage: node core.test.mjs BUILD_WEB_FOLDER [LUNABRIK_HEADLESS]
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';

const folder = process.argv[2] ?? 'build/web';
const headless = process.argv[3] && resolve(process.argv[3]);
const createLunabrik = createRequire(import.meta.url)(resolve(folder, 'lunabrik.js'));
const MaxTicks = 20000; // of the machine's time; a condition ends the wait long before

async function machine() {
  const M = await createLunabrik({ wasmBinary: readFileSync(join(folder, 'lunabrik.wasm')) });
  M.FS.mkdir('/home/run');
  M.FS.mkdir('/home/run/Files');
  M.FS.chdir('/home/run');
  for (const f of ['basic.rom', 'dev_dos.rom', 'font.bin']) M.FS.writeFile(f, readFileSync(join(folder, f)));
  assert.equal(M._lb_boot(), 0, 'boots with the free images');
  const screen = () => M.UTF8ToString(M._lb_screen_text());
  const until = (what, done) => {
    for (let t = 0; t < MaxTicks; t++) {
      if (done()) return;
      M._lb_run_tick(100000);
    }
    assert.fail(`${what} did not happen; the screen:\n${screen()}`);
  };
  const type = (text) => {
    const n = M.lengthBytesUTF8(text), p = M._malloc(n + 1);
    M.stringToUTF8(text, p, n + 1);
    const queued = M._lb_type(p, n);
    M._free(p);
    return queued;
  };
  const typed = (text) => { type(text); until('typing', () => !M._lb_keys_busy()); };
  until('READY', () => /^READY/m.test(screen()));
  return { M, screen, until, type, typed };
}

test('programs typed in run and show their output, Swedish letters both ways', async () => {
  const cases = [
    { text: '10 PRINT 6*7\nRUN\n', shows: /^ 42$/m },
    { text: 'NEW\n10 FOR I=1 TO 3\n20 PRINT I*I;\n30 NEXT I\nRUN\n', shows: /^ 1 +4 +9/m },
    { text: 'PRINT "ÅÄÖ åäö"\n', shows: /^ÅÄÖ åäö$/m },
    { text: 'PRINT “QUOTED”\r\n', shows: /^QUOTED$/m }, // typographic quotes type as plain ones
  ];
  const { typed, until, screen } = await machine();
  for (const c of cases) {
    typed(c.text);
    until(`${JSON.stringify(c.text)} to show ${c.shows}`, () => c.shows.test(screen()));
  }
});

test('characters the ABC80 lacks are counted and skipped, the rest typed', async () => {
  const { M, type, until, screen } = await machine();
  assert.equal(type('PRINT 2+2 €✓\n'), 'PRINT 2+2 \n'.length);
  assert.equal(M._lb_skipped(), 2);
  until('the sum', () => /^ 4$/m.test(screen()));
  assert.equal(type('€'), 0);
});

test('keys: the character a key gives, Enter and Backspace by their place', async () => {
  const { M, until, screen } = await machine();
  const ScanEnter = 28, ScanBackspace = 14;
  const press = (host, cp, scan = 0, shift = 0) => {
    const got = M._lb_key_down(host, cp, scan, shift, 0);
    for (let t = 0; t < 5; t++) M._lb_run_tick(100000); // held for a tenth of a second
    M._lb_key_up(host);
    until('the key released', () => !M._lb_keys_busy());
    return got;
  };
  for (const ch of 'PRINT 3+5') press(100, ch.codePointAt(0));
  press(ScanBackspace, 0, ScanBackspace);
  press(101, '4'.codePointAt(0));
  press(ScanEnter, 0, ScanEnter);
  until('3+4 printed', () => /^ 7$/m.test(screen()));
  assert.equal(press(102, '€'.codePointAt(0)), 0, 'no key gives €');
  assert.equal(M._lb_key_down(4096, 'A'.codePointAt(0), 0, 0, 0), 0, 'a host key out of range');
});

test('SAVE writes the files folder and LOAD reads it back', async () => {
  const { M, typed, until, screen } = await machine();
  typed('10 PRINT "SAVED"\nSAVE "HELLO"\n');
  until('the file', () => M.FS.readdir('Files').includes('HELLO.BAS'));
  assert.match(new TextDecoder().decode(M.FS.readFile('Files/HELLO.BAS')), /10 PRINT "SAVED"/);
  typed('NEW\nLOAD "HELLO"\nRUN\n');
  until('the loaded program run', () => /^SAVED$/m.test(screen()));
});

test('a real ABC80 runs 3 MHz worth of each tick; full speed more; pause stops the clock', async () => {
  const { M } = await machine();
  const perTick = (ticks) => {
    const t0 = M._lb_tstates(), k0 = M._lb_ticks();
    for (let i = 0; i < ticks; i++) M._lb_run_tick(100000);
    return { tstates: (M._lb_tstates() - t0) / ticks, ticks: M._lb_ticks() - k0 };
  };
  M._lb_set_speed(0);
  const real = perTick(100);
  assert.ok(Math.abs(real.tstates - 3e6 / 50) < 3e6 / 50 * 0.02, `${real.tstates} T-states a tick`);
  M._lb_set_speed(1);
  assert.ok(perTick(20).tstates > 2 * real.tstates);
  M._lb_pause(1);
  assert.deepEqual(perTick(10), { tstates: 0, ticks: 0 });
  M._lb_pause(0);
  assert.ok(perTick(10).ticks === 10);
});

// The machine's own parts of a state file (processor, time, memory, ports, keys), by chunk name:
// the rest names host folders, which differ between the two programs.
function machineChunks(bytes) {
  const chunks = {};
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  for (let at = 12; at + 8 <= bytes.length; ) {
    const name = new TextDecoder().decode(bytes.subarray(at, at + 4)), size = view.getUint32(at + 4, true);
    if (['CPU ', 'TIME', 'MEM ', 'PORT', 'KEYS'].includes(name)) chunks[name] = Buffer.from(bytes.subarray(at + 8, at + 8 + size));
    at += 8 + size;
  }
  return chunks;
}

test('machine code with every prefix runs to the same machine as on the desktop', { skip: !headless && 'no headless runner named' }, async () => {
  // Loops at B000 (the last three bytes jump back to it).
  const programs = {
    // IX and IY: loads, arithmetic and stores through (XY+d), the bit group, INC, DEC, ADD, the
    // stack and EX (SP).
    indexed: 'DD2100B8FD2100BA0600DD7E05FD86FDFD7707DDCB0206FDCB015EFDCB09EEDD23FD2BDDE5FDE3DDE1FD0910D9C300B0',
    // ED: block moves and compares, NEG, ADC and SBC on HL, RLD, word loads; CB shifts.
    extended: '2100B81100BC010002EDB02100BC0100013E42EDB1ED44ED5AED42ED6FED5300BEED4B00BEEDA0EDA8CB3FCB17C300B0',
    // The benchmark's mix: LDIR, then indexed and bit instructions, the stack, DJNZ.
    mixed: '2100B81100BA010001EDB0DD2100B80600DD7E0580EE55DD7706CB3FCB4728013CDD23E529E110E9C300B0',
  };
  const ticks = 20;
  const work = mkdtempSync(join(tmpdir(), 'lunabrik-core-'));
  try {
    for (const f of ['basic.rom', 'dev_dos.rom', 'font.bin']) writeFileSync(join(work, f), readFileSync(join(folder, f)));
    mkdirSync(join(work, 'Files'));
    writeFileSync(join(work, 'Lunabrik.cfg'), new Uint8Array(260)); // waitstates 0: as fast as possible
    for (const [name, hex] of Object.entries(programs)) {
      const start = join(work, `${name}-start.lbs`), end = join(work, `${name}-desktop.lbs`);
      const script = [
        { cmd: 'wait_for', text: 'READY', timeout_ticks: 500 },
        { cmd: 'poke', addr: 0xb000, hex },
        { cmd: 'set_regs', pc: 0xb000 },
        { cmd: 'save_state', file: start },
        { cmd: 'run', ticks },
        { cmd: 'save_state', file: end },
      ];
      writeFileSync(join(work, 'script.txt'), script.map((c) => JSON.stringify(c)).join('\n') + '\n');
      execFileSync(headless, ['--script', join(work, 'script.txt')], { cwd: work, stdio: 'ignore' });

      const M = await createLunabrik({ wasmBinary: readFileSync(join(folder, 'lunabrik.wasm')) });
      M.FS.mkdir('/home/run');
      M.FS.mkdir('/home/run/Files');
      M.FS.chdir('/home/run');
      for (const f of ['basic.rom', 'dev_dos.rom', 'font.bin']) M.FS.writeFile(f, readFileSync(join(folder, f)));
      M.FS.writeFile('start.lbs', readFileSync(start));
      assert.equal(M._lb_boot(), 0);
      const path = M._malloc(16);
      M.stringToUTF8('start.lbs', path, 16);
      assert.equal(M._lb_load_state(path), 0, M.UTF8ToString(M._lb_text()));
      M._lb_set_speed(1);
      for (let i = 0; i < ticks; i++) M._lb_run_tick(40000); // the runner's instructions per tick
      M.stringToUTF8('end.lbs', path, 16);
      assert.equal(M._lb_save_state(path), 0, M.UTF8ToString(M._lb_text()));

      const desktop = machineChunks(readFileSync(end)), page = machineChunks(M.FS.readFile('end.lbs'));
      assert.deepEqual(Object.keys(page).sort(), ['CPU ', 'KEYS', 'MEM ', 'PORT', 'TIME'], name);
      assert.ok(!machineChunks(readFileSync(start))['MEM '].equals(desktop['MEM ']), `${name} ran`);
      for (const chunk of Object.keys(desktop)) assert.ok(desktop[chunk].equals(page[chunk]), `${name}: ${chunk} differs`);
    }
  } finally {
    rmSync(work, { recursive: true, force: true });
  }
});
