// The browser build's core under Node on a saved machine, driven as the page drives it
// (lb_run_tick at full speed): prints "mips N" per second of Node's processor time and
// "wall_mips N" per second of wall time, measured after WARM_UP seconds of the same run (the
// engine first runs the loop from its quick baseline compilation, then compiles it fully on
// another thread, a cost the page pays once when it opens; "cold_mips N" counts it in).
// Usage: node bench/frontends_web.mjs BUILD_WEB_FOLDER STATE [SECONDS] [INSTRUCTIONS_PER_TICK]
// [WARM_UP]
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { resolve } from 'node:path';

const [folder, state, seconds = '2', perTick = '40000', warmUp = '1'] = process.argv.slice(2);
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
// Runs for `seconds`: the instructions executed, the wall seconds and the processor seconds.
const run = (seconds) => {
  const before = M._lb_instructions(), start = performance.now(), cpu0 = process.cpuUsage();
  let elapsed = 0;
  do {
    for (let i = 0; i < 10; i++) M._lb_run_tick(Number(perTick));
    elapsed = (performance.now() - start) / 1000;
  } while (elapsed < seconds);
  const used = process.cpuUsage(cpu0);
  return { executed: M._lb_instructions() - before, elapsed, cpu: (used.user + used.system) / 1e6 };
};
const warm = Number(warmUp) > 0 ? run(Number(warmUp)) : { executed: 0, elapsed: 0, cpu: 0 };
const { executed, elapsed, cpu } = run(Number(seconds));
console.log(`instructions ${executed}\nseconds ${elapsed.toFixed(3)}\ncpu_seconds ${cpu.toFixed(3)}`);
console.log(`mips ${(executed / cpu / 1e6).toFixed(1)}\nwall_mips ${(executed / elapsed / 1e6).toFixed(1)}`);
const cold = (warm.executed + executed) / (warm.cpu + cpu) / 1e6;
console.log(`cold_mips ${cold.toFixed(1)}`);
