// The page's service worker: every file of the page is fetched from the server when it answers and
// kept, and taken from what was kept when it does not, so the page loads offline once visited. The
// server first: a rebuilt page is seen at the next load.
'use strict';
const Kept = 'lunabrik';
// Everything the page fetches as it starts, and the sample programs its help loads with a click
// (named in samples/list.txt).
const Page = ['./', 'lunabrik.js', 'lunabrik.wasm', 'basic.rom', 'basic.rom.sym', 'dev_dos.rom',
  'font.bin', 'manifest.webmanifest', 'icon.svg', 'icon-192.png', 'icon-512.png',
  'help/keyboard.md', 'help/basic.md', 'samples/list.txt'];

async function keepPage() {
  const c = await caches.open(Kept);
  await c.addAll(Page);
  const list = await (await c.match('samples/list.txt')).text();
  await c.addAll(list.split('\n').filter((n) => n.trim()).map((n) => `samples/${encodeURIComponent(n.trim())}`));
}

self.addEventListener('install', (e) => e.waitUntil(keepPage().then(() => self.skipWaiting())));
self.addEventListener('activate', (e) => e.waitUntil(self.clients.claim()));

self.addEventListener('fetch', (e) => {
  const req = e.request;
  if (req.method !== 'GET' || new URL(req.url).origin !== location.origin) return;
  e.respondWith((async () => {
    try {
      const got = await fetch(req);
      if (got.ok) {
        // The page under any options (?type=, ?speed=) is the one page.
        const key = req.mode === 'navigate' ? new URL('./', location).href : req;
        const copy = got.clone();
        e.waitUntil(caches.open(Kept).then((c) => c.put(key, copy)));
      }
      return got;
    } catch (err) {
      const kept = req.mode === 'navigate' ? await caches.match('./') : await caches.match(req, { ignoreSearch: true });
      if (kept) return kept;
      throw err;
    }
  })());
});
