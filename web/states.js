// Saved machines: four quick slots kept in the browser (IndexedDB), a state file downloaded and
// uploaded in the desktop program's format (so a state moves between the two), and rewind, one
// second of the machine's time back per press. Keys as in the desktop program: F4 rewinds, F5-F8
// load a slot, Shift+F5-F8 save one.
'use strict';
if (typeof document !== 'undefined') (() => {
  const Slots = 4;
  const Scratch = '/tmp/state.lbs';
  const MaxStateBytes = 4 << 20;

  // --- The quick slots' store ---
  let db = null;
  function openStore() {
    return new Promise((resolve, reject) => {
      const r = indexedDB.open('lunabrik-states', 1);
      r.onupgradeneeded = () => r.result.createObjectStore('slots');
      r.onsuccess = () => resolve(r.result);
      r.onerror = () => reject(r.error);
    });
  }
  function request(mode, fn) {
    return new Promise((resolve, reject) => {
      const t = db.transaction('slots', mode);
      const r = fn(t.objectStore('slots'));
      t.oncomplete = () => resolve(r.result);
      t.onerror = t.onabort = () => reject(t.error || new Error('the browser refused'));
    });
  }

  globalThis.lunabrikPage.addons.push(async (page) => {
    const M = page.M, $ = (id) => document.getElementById(id);
    const withPath = (fn) => {
      const size = M.lengthBytesUTF8(Scratch), p = M._malloc(size + 1);
      M.stringToUTF8(Scratch, p, size + 1);
      try { return fn(p); } finally { M._free(p); }
    };
    const lastText = () => M.UTF8ToString(M._lb_text());
    const forget = () => { try { M.FS.unlink(Scratch); } catch { /* not there */ } };

    function save() {
      const failed = withPath((p) => M._lb_save_state(p));
      if (failed) { forget(); throw new Error(lastText()); }
      const bytes = M.FS.readFile(Scratch);
      forget();
      return bytes;
    }
    // True when loaded; a state from other ROM images is taken only when the user says so.
    function load(bytes, what) {
      M.FS.writeFile(Scratch, bytes);
      let r = withPath((p) => M._lb_load_state(p));
      if (r === 2 && confirm(`${what} was saved with other ROM images than the ones in use. ` +
                             'Loaded into these, the program in it may not run. Load it anyway?'))
        r = withPath((p) => M._lb_load_state_anyway(p));
      forget();
      page.say(r === 0 ? `Loaded ${what}.` : `${what} not loaded: ${lastText()}`);
      page.canvas.focus();
      return r === 0;
    }

    // --- Quick slots ---
    const table = $('slots').tBodies[0];
    async function showSlots() {
      table.replaceChildren();
      for (let n = 1; n <= Slots; n++) {
        const kept = db ? await request('readonly', (s) => s.get(n)).catch(() => undefined) : undefined;
        const row = table.insertRow();
        row.insertCell().textContent = `Slot ${n}`;
        const seen = row.insertCell();
        if (kept?.picture) seen.append(Object.assign(document.createElement('img'), { src: kept.picture, alt: '' }));
        row.insertCell().textContent = kept ? new Date(kept.at).toLocaleString('sv') : 'empty';
        const put = document.createElement('button'), get = document.createElement('button');
        put.textContent = 'Save'; put.title = `Shift+F${n + 4}`; put.onclick = () => saveSlot(n);
        get.textContent = 'Load'; get.title = `F${n + 4}`; get.onclick = () => loadSlot(n);
        get.disabled = !kept;
        row.insertCell().append(put, ' ', get);
      }
    }
    async function saveSlot(n) {
      try {
        if (!db) throw new Error('this browser keeps no data for the page');
        // The screen then, as the desktop program's slot menu shows it.
        const thumb = Object.assign(document.createElement('canvas'), { width: 64, height: 64 });
        thumb.getContext('2d').drawImage(page.canvas, 0, 0, 64, 64);
        const bytes = save();
        await request('readwrite', (s) => s.put({ bytes, at: Date.now(), picture: thumb.toDataURL() }, n));
        page.say(`Saved the machine in slot ${n}.`);
      } catch (err) {
        page.say(`Cannot save in slot ${n}: ${err.message || err}`);
      }
      await showSlots();
      page.canvas.focus();
    }
    async function loadSlot(n) {
      const kept = db ? await request('readonly', (s) => s.get(n)).catch(() => undefined) : undefined;
      if (!kept) { page.say(`Slot ${n} is empty.`); return; }
      load(kept.bytes, `slot ${n}`);
    }

    // --- Files ---
    $('state-save').onclick = () => {
      try {
        const bytes = save();
        const stamp = new Date().toLocaleString('sv').replace(/:/g, '').replace(' ', '-');
        const a = document.createElement('a');
        a.href = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
        a.download = `lunabrik-${stamp}.lbs`;
        a.click();
        setTimeout(() => URL.revokeObjectURL(a.href), 10000);
        page.say(`Saved the machine as ${a.download}.`);
      } catch (err) {
        page.say(`Cannot save the state: ${err.message || err}`);
      }
    };
    $('state-load').onchange = async (e) => {
      const file = e.target.files[0];
      e.target.value = '';
      if (!file) return;
      if (file.size > MaxStateBytes) { page.say(`${file.name} is too large to be a state.`); return; }
      load(new Uint8Array(await file.arrayBuffer()), file.name);
    };

    // --- Rewind: paused one second back, as often as asked ---
    function rewind() {
      if (!page.paused) page.setPaused(true);
      const before = M._lb_ticks();
      if (M._lb_rewind()) {
        const back = (before - M._lb_ticks()) / 50;
        page.say(`Rewound ${back.toFixed(1)} s; ${Math.round(M._lb_rewind_seconds())} s more kept ` +
                 '(files are not rewound). Run goes on from here.');
      } else {
        page.say('Nothing earlier kept to rewind to.');
      }
    }
    $('rewind').onclick = () => { rewind(); page.canvas.focus(); };

    page.canvas.addEventListener('keydown', (e) => {
      const f = /^F([4-8])$/.exec(e.key);
      if (!f || e.altKey || e.ctrlKey || e.metaKey) return;
      e.preventDefault(); // F5 would reload the page
      e.stopImmediatePropagation();
      const n = Number(f[1]);
      if (n === 4) rewind();
      else if (!e.repeat) (e.shiftKey ? saveSlot : loadSlot)(n - 4);
    });

    for (const id of ['state-save', 'rewind']) $(id).disabled = false;
    document.querySelector('[data-pick="state-load"]').disabled = false;
    try { db = await openStore(); } catch (err) { page.say(`Quick slots are not kept: ${err.message || err}`); }
    await showSlots();
  });
})();
