// A small WebDriver client over fetch for Debian's chromedriver and chromium, and a static file
// server on a free port (python3 -m http.server): what the page tests need, no packages.
import { spawn } from 'node:child_process';
import { createServer } from 'node:net';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

export function freePort() {
  return new Promise((resolve, reject) => {
    const s = createServer();
    s.on('error', reject);
    s.listen(0, '127.0.0.1', () => { const { port } = s.address(); s.close(() => resolve(port)); });
  });
}

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Polls fn until it returns a truthy value; the limit is generous, the machine's speed unknown.
export async function waitFor(what, fn, limitMs = 60000) {
  const end = Date.now() + limitMs;
  let last;
  while (Date.now() < end) {
    last = await fn();
    if (last) return last;
    await sleep(100);
  }
  throw new Error(`timed out waiting for ${what}`);
}

async function waitForUrl(url) {
  await waitFor(url, () => fetch(url).then((r) => r.status < 500, () => false), 30000);
}

// Spawns a process that lives until the returned stop().
function run(cmd, args) {
  const p = spawn(cmd, args, { stdio: ['ignore', 'ignore', 'pipe'] });
  let err = '';
  p.stderr.on('data', (d) => { err += d; });
  return { stop: () => p.kill(), stderr: () => err, process: p };
}

export async function startServer(folder) {
  const port = await freePort();
  const server = run('python3', ['-m', 'http.server', '--bind', '127.0.0.1', '-d', folder, String(port)]);
  const base = `http://127.0.0.1:${port}/`;
  await waitForUrl(base);
  return { base, stop: server.stop };
}

// mobile: a phone's screen of width x height CSS pixels with touch, as Chromium's device
// emulation gives it; args: more command-line switches for Chromium.
export async function startBrowser({ width = 1200, height = 1000, mobile = false, args = [] } = {}) {
  const port = await freePort();
  const driver = run('chromedriver', [`--port=${port}`]);
  const url = `http://127.0.0.1:${port}`;
  await waitForUrl(`${url}/status`);
  const profile = mkdtempSync(join(tmpdir(), 'lunabrik-chromium-'));
  const call = async (method, path, body) => {
    const r = await fetch(`${url}${path}`, {
      method, headers: { 'content-type': 'application/json' },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    const json = await r.json();
    if (!r.ok) throw new Error(`${method} ${path}: ${JSON.stringify(json.value).slice(0, 500)}`);
    return json.value;
  };
  const session = await call('POST', '/session', {
    capabilities: { alwaysMatch: { browserName: 'chrome', 'goog:chromeOptions': {
      binary: '/usr/bin/chromium',
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync',
        '--disable-dev-shm-usage', `--window-size=${width},${height}`, `--user-data-dir=${profile}`, ...args],
      ...(mobile ? { mobileEmulation: { deviceMetrics: { width, height, pixelRatio: 3, touch: true } } } : {}),
    } } },
  });
  const s = `/session/${session.sessionId}`;
  return {
    driverPid: driver.process.pid, // the browser's processes descend from it
    go: (page) => call('POST', `${s}/url`, { url: page }),
    run: (script, ...args) => call('POST', `${s}/execute/sync`, { script, args }),
    find: (css) => call('POST', `${s}/element`, { using: 'css selector', value: css })
      .then((e) => Object.values(e)[0]),
    keys: (element, text) => call('POST', `${s}/element/${element}/value`, { text }),
    click: (element) => call('POST', `${s}/element/${element}/click`, {}),
    // A mouse drag between two points given from an element's centre.
    drag: (element, [x0, y0], [x1, y1]) => call('POST', `${s}/actions`, { actions: [{
      type: 'pointer', id: 'mouse', parameters: { pointerType: 'mouse' }, actions: [
        { type: 'pointerMove', duration: 0, origin: { 'element-6066-11e4-a52e-4f735466cecf': element }, x: x0, y: y0 },
        { type: 'pointerDown', button: 0 },
        { type: 'pointerMove', duration: 50, origin: { 'element-6066-11e4-a52e-4f735466cecf': element }, x: x1, y: y1 },
        { type: 'pointerUp', button: 0 }] }] }),
    middleClick: (element) => call('POST', `${s}/actions`, { actions: [{
      type: 'pointer', id: 'mouse', parameters: { pointerType: 'mouse' }, actions: [
        { type: 'pointerMove', duration: 0, origin: { 'element-6066-11e4-a52e-4f735466cecf': element }, x: 0, y: 0 },
        { type: 'pointerDown', button: 1 }, { type: 'pointerUp', button: 1 }] }] }),
    upload: (element, path) => call('POST', `${s}/element/${element}/value`, { text: path }),
    screenshot: () => call('GET', `${s}/screenshot`).then((b) => Buffer.from(b, 'base64')),
    // Tabs: a new one (its handle), the one commands go to, closing the current one.
    newTab: () => call('POST', `${s}/window/new`, { type: 'tab' }).then((w) => w.handle),
    tab: () => call('GET', `${s}/window`),
    switchTo: (handle) => call('POST', `${s}/window`, { handle }),
    closeTab: () => call('DELETE', `${s}/window`),
    // A key sent to whatever has the focus.
    press: (key) => call('POST', `${s}/actions`, { actions: [{ type: 'key', id: 'keyboard',
      actions: [{ type: 'keyDown', value: key }, { type: 'keyUp', value: key }] }] }),
    async stop() {
      await call('DELETE', s).catch(() => {});
      driver.stop();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}
