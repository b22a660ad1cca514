// The browser build's core under Node on a saved machine, driven as the page drives it
// (lb_run_tick at full speed): prints "mips N" per second of Node's processor time and
// "wall_mips N" per second of wall time. Usage: node bench/frontends_web.mjs
// BUILD_WEB_FOLDER STATE [SECONDS] [INSTRUCTIONS_PER_TICK]
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { resolve } from 'node:path';

const [folder, state, seconds = '2', perTick = '40000'] = process.argv.slice(2);
const M = await createRequire(import.meta.url)(resolve(folder, 'lunabrik.js'))({
  wasmBinary: readFileSync(resolve(folder, 'lunabrik.wasm')),
});
M.FS.mkdir('/bench');
M.FS.chdir('/bench');
for (const f of ['basic.rom', 'dev_dos.rom', 'font.bin']) M.FS.writeFile(f, readFileSync(resolve(folder, f)));
M.FS.writeFile('state.lbs', readFileSync(state));
if (M._lb_boot() !== 0) throw new Error('the machine did not boot');
const path = M._malloc(16);
M.stringToUTF8('state.lbs', path, 16);
if (M._lb_load_state(path) !== 0) throw new Error(`the state was refused: ${M.UTF8ToString(M._lb_text())}`);
M._lb_set_speed(1);
const before = M._lb_instructions(), start = performance.now(), cpu0 = process.cpuUsage();
let elapsed = 0;
do {
  for (let i = 0; i < 10; i++) M._lb_run_tick(Number(perTick));
  elapsed = (performance.now() - start) / 1000;
} while (elapsed < Number(seconds));
const executed = M._lb_instructions() - before;
const used = process.cpuUsage(cpu0), cpu = (used.user + used.system) / 1e6;
console.log(`instructions ${executed}\nseconds ${elapsed.toFixed(3)}\ncpu_seconds ${cpu.toFixed(3)}`);
console.log(`mips ${(executed / cpu / 1e6).toFixed(1)}\nwall_mips ${(executed / elapsed / 1e6).toFixed(1)}`);
