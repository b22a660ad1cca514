// The page's idle cost in headless Chromium: the page at READY at a real ABC80's pace, nothing
// typed, for a while; the CPU time the tab's renderer process and all of Chromium take meanwhile,
// read from /proc, as a share of one core. Several folders are measured in alternated rounds, so
// a busy machine weighs on each alike.
// Usage: node bench/web_idle.mjs [SECONDS] BUILD_WEB_FOLDER...
import { readFileSync, readdirSync } from 'node:fs';
import { startServer, startBrowser, waitFor, sleep } from '../tests/web/webdriver.mjs';

const args = process.argv.slice(2);
const seconds = /^\d+$/.test(args[0] ?? '') ? Number(args.shift()) : 20;
const folders = args.length ? args : ['build/web'];
const Rounds = 3;
const tick = 100; // clock ticks a second of /proc/*/stat

// Chromium's processes under the driver: pid -> { renderer, cpu seconds }.
function chromium(driver) {
  const all = new Map();
  for (const pid of readdirSync('/proc').filter((p) => /^\d+$/.test(p))) {
    try {
      const stat = readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
      const cmd = readFileSync(`/proc/${pid}/cmdline`, 'utf8');
      all.set(Number(pid), { parent: Number(stat[1]), renderer: cmd.includes('--type=renderer'),
        cpu: (Number(stat[11]) + Number(stat[12])) / tick });
    } catch { /* gone meanwhile */ }
  }
  const under = (pid) => pid === driver || (all.has(pid) && pid > 1 && under(all.get(pid).parent));
  return new Map([...all].filter(([pid]) => pid !== driver && under(pid)));
}

const results = new Map(folders.map((f) => [f, []]));
for (let round = 0; round < Rounds; round++) {
  for (const folder of folders) {
    const server = await startServer(folder);
    const browser = await startBrowser();
    try {
      await browser.go(server.base);
      await waitFor('READY', () => browser.run(`return /^READY/m.test(document.getElementById('screen-text').textContent)`));
      await sleep(2000); // start-up settles
      const before = chromium(browser.driverPid), t0 = Date.now();
      await sleep(seconds * 1000);
      const after = chromium(browser.driverPid), wall = (Date.now() - t0) / 1000;
      let renderer = 0, all = 0;
      for (const [pid, p] of after) {
        const used = p.cpu - (before.get(pid)?.cpu ?? 0);
        all += used;
        if (p.renderer) renderer = Math.max(renderer, used); // the tab's, the busiest renderer
      }
      results.get(folder).push({ renderer: (100 * renderer) / wall, all: (100 * all) / wall });
    } finally {
      await browser.stop();
      server.stop();
    }
  }
}
const median = (xs) => xs.sort((a, b) => a - b)[xs.length >> 1];
for (const [folder, rs] of results)
  console.log(`${folder}: renderer ${median(rs.map((r) => r.renderer)).toFixed(1)} % of a core, ` +
    `all of Chromium ${median(rs.map((r) => r.all)).toFixed(1)} % (median of ${rs.length} rounds of ${seconds} s; ` +
    `renderer ${rs.map((r) => r.renderer.toFixed(1)).join(' ')})`);
