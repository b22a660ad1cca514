// The browser's storage for the page's folders (the machine's files, the user's own ROM images):
// every file is its own entry in IndexedDB, written when it is closed after writing and removed
// when it is deleted, so two tabs saving different files never overwrite each other's, and a
// write is stored a moment after the program closed the file. Other tabs on the same origin hear
// of each change over a BroadcastChannel and update their folder.
//
// One database per folder, named by its path, with one object store FILE_DATA keyed by the file's
// full path holding { timestamp, mode, contents }: the layout emscripten's IDBFS used, so files
// kept by earlier versions of the page are found.
'use strict';
// eslint-disable-next-line no-unused-vars
function lunabrikStore(FS, folders, { changed, failed, busy }) {
  const StoreName = 'FILE_DATA', Version = 21;
  const databases = new Map();   // folder -> Promise<IDBDatabase>
  const channel = typeof BroadcastChannel === 'function' ? new BroadcastChannel('lunabrik-files') : null;
  let pending = 0;               // writes and removals not yet committed
  let quiet = false;             // the store itself is writing the in-memory folder

  const folderOf = (path) => folders.find((f) => typeof path === 'string' && path.startsWith(f + '/')
    && !path.slice(f.length + 1).includes('/'));

  function open(folder) {
    if (!databases.has(folder)) databases.set(folder, new Promise((resolve, reject) => {
      if (typeof indexedDB === 'undefined') throw new Error('this browser keeps no IndexedDB');
      const req = indexedDB.open(folder, Version);
      req.onupgradeneeded = () => {
        const db = req.result;
        const store = db.objectStoreNames.contains(StoreName)
          ? req.transaction.objectStore(StoreName) : db.createObjectStore(StoreName);
        if (!store.indexNames.contains('timestamp')) store.createIndex('timestamp', 'timestamp', { unique: false });
      };
      req.onsuccess = () => resolve(req.result);
      req.onerror = () => reject(req.error);
      req.onblocked = () => reject(new Error('another tab holds an older storage open'));
    }));
    return databases.get(folder);
  }

  // The in-memory folder changed by the store, not by the machine or the page: not written back.
  function applyQuietly(fn) {
    quiet = true;
    try { fn(); } finally { quiet = false; }
  }
  function apply(path, entry) {
    applyQuietly(() => {
      if (!entry) {
        try { FS.unlink(path); } catch { /* already gone */ }
        return;
      }
      if (!entry.contents || !FS.isFile(entry.mode)) return; // folders are not kept
      FS.writeFile(path, entry.contents);
      const t = entry.timestamp instanceof Date ? entry.timestamp.getTime() : Date.now();
      FS.utime(path, t, t);
    });
  }

  // One change committed on its own: a put of the file as it is now, or its removal.
  async function commit(path, entry) {
    if (++pending === 1) busy(true);
    try {
      const db = await open(folderOf(path));
      await new Promise((resolve, reject) => {
        const tx = db.transaction(StoreName, 'readwrite');
        if (entry) tx.objectStore(StoreName).put(entry, path);
        else tx.objectStore(StoreName).delete(path);
        tx.oncomplete = resolve;
        tx.onabort = tx.onerror = () => reject(tx.error || new Error('the write was abandoned'));
      });
      channel?.postMessage({ path, entry });
    } catch (err) {
      failed(path, err);
    } finally {
      if (--pending === 0) busy(false);
      changed();
    }
  }
  function save(path) {
    let entry;
    try {
      const stat = FS.stat(path);
      if (!FS.isFile(stat.mode)) return;
      entry = { timestamp: new Date(stat.mtime), mode: stat.mode, contents: FS.readFile(path) };
    } catch {
      return; // removed again before this look
    }
    commit(path, entry);
  }

  // Every way a file in the folders changes passes through these three.
  const close = FS.close, unlink = FS.unlink, rename = FS.rename;
  FS.close = (stream) => {
    const path = stream.path, wrote = (stream.flags & 3) !== 0; // opened for writing
    close(stream);
    if (wrote && !quiet && folderOf(path)) save(path);
  };
  FS.unlink = (path) => {
    unlink(path);
    if (!quiet && folderOf(absolute(path))) commit(absolute(path), null);
  };
  FS.rename = (from, to) => {
    rename(from, to);
    if (quiet) return;
    const a = absolute(from), b = absolute(to);
    if (folderOf(a)) commit(a, null);
    if (folderOf(b)) save(b);
  };
  function absolute(path) {
    return (path.startsWith('/') ? path : `${FS.cwd()}/${path}`).replace(/\/(\.\/)+/g, '/').replace(/\/+/g, '/');
  }

  if (channel) channel.onmessage = (e) => {
    const { path, entry } = e.data || {};
    if (!folderOf(path)) return;
    apply(path, entry);
    changed();
  };

  return {
    // Reads every kept file into the in-memory folders; rejects with the first folder that
    // cannot be read (the others are read all the same).
    async load() {
      let first = null;
      for (const folder of folders) {
        try {
          const db = await open(folder);
          await new Promise((resolve, reject) => {
            const tx = db.transaction(StoreName, 'readonly');
            const req = tx.objectStore(StoreName).openCursor();
            req.onsuccess = () => {
              const cursor = req.result;
              if (!cursor) return;
              if (folderOf(cursor.key)) apply(cursor.key, cursor.value);
              cursor.continue();
            };
            tx.oncomplete = resolve;
            tx.onabort = tx.onerror = () => reject(tx.error);
          });
        } catch (err) {
          first = first || err;
        }
      }
      changed();
      if (first) throw first;
    },
    pending: () => pending,
  };
}
