// The WebAssembly core under Node, as the page drives it: full speed in emulated MHz on a BASIC
// loop, and the host time a real ABC80's pace costs (per emulated second). Exit status 1 when a
// goal is missed. Usage: node bench/web_speed.mjs BUILD_WEB_FOLDER
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { resolve } from 'node:path';

const folder = process.argv[2] ?? 'build/web';
const FullSpeedGoalMhz = 30;      // ten real ABC80s at least
const RealPaceGoalMsPerSecond = 100; // a tenth of one host core for the machine at its own pace
const Rounds = 5;

const M = await createRequire(import.meta.url)(resolve(folder, 'lunabrik.js'))({
  wasmBinary: readFileSync(resolve(folder, 'lunabrik.wasm')),
});
M.FS.mkdir('/bench');
M.FS.chdir('/bench');
for (const f of ['basic.rom', 'dev_dos.rom', 'font.bin']) M.FS.writeFile(f, readFileSync(resolve(folder, f)));
if (M._lb_boot() !== 0) throw new Error('the machine did not boot');
M._lb_set_speed(1);
for (let i = 0; i < 100; i++) M._lb_run_tick(20000);
const program = '10 A=0\n20 FOR I=1 TO 30000\n30 A=A+I*2\n40 NEXT I\n50 GOTO 10\nRUN\n';
const n = M.lengthBytesUTF8(program), p = M._malloc(n + 1);
M.stringToUTF8(program, p, n + 1);
M._lb_type(p, n);
while (M._lb_keys_busy()) M._lb_run_tick(20000);

const median = (xs) => xs.sort((a, b) => a - b)[xs.length >> 1];
const full = [], real = [];
for (let r = 0; r < Rounds; r++) {
  M._lb_set_speed(1);
  let t0 = M._lb_tstates(), w0 = performance.now();
  for (let i = 0; i < 500; i++) M._lb_run_tick(20000);
  full.push((M._lb_tstates() - t0) / ((performance.now() - w0) * 1000));
  M._lb_set_speed(0);
  w0 = performance.now();
  for (let i = 0; i < 250; i++) M._lb_run_tick(100000); // five seconds of the machine's time
  real.push((performance.now() - w0) / 5);
}
const mhz = median(full), ms = median(real);
const verdict = (ok) => (ok ? 'met' : 'MISSED');
console.log(`web: full speed ${mhz.toFixed(0)} MHz emulated (median of ${Rounds}); goal >= ${FullSpeedGoalMhz}: ${verdict(mhz >= FullSpeedGoalMhz)}`);
console.log(`web: a real ABC80's pace costs ${ms.toFixed(1)} ms of host time per second; goal <= ${RealPaceGoalMsPerSecond}: ${verdict(ms <= RealPaceGoalMsPerSecond)}`);
process.exit(mhz >= FullSpeedGoalMhz && ms <= RealPaceGoalMsPerSecond ? 0 : 1);
