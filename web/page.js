// The page: runs the machine on the browser's frame clock and connects it to the canvas, the
// keyboard, the clipboard and the browser's storage. Appended to emscripten's loader, so the page
// loads one script; it does nothing outside a browser (the tests load the same file under Node).
'use strict';
if (typeof document !== 'undefined') (() => {
  const TickMs = 20;                // the machine's 50 Hz tick
  const MaxCatchUp = 5;             // ticks run at once after frames were missed
  const RealTickInstructions = 100000; // more than a period holds: the budget ends it
  const FastTickInstructions = 20000;
  const FastBudgetMs = 12;          // at most, of each frame, as fast as possible
  const MaxTypedBytes = 65536;      // more than the machine's memory holds as a program
  const MaxUploadBytes = 1 << 20;
  const RomSizes = { 'basic.rom': 16384, 'dev_dos.rom': 4096, 'font.bin': 2560 };
  const Home = '/lunabrik', Files = '/lunabrik/Files', UserRoms = '/roms';

  // The page's other features, in scripts appended after this one, register here; each is
  // called with the page's interface once the machine first runs.
  const addons = globalThis.lunabrikPage = { addons: [] };
  const $ = (id) => document.getElementById(id);
  const canvas = $('screen'), status = $('status'), meterText = $('meter'), screenText = $('screen-text');
  let M = null;                     // the emscripten module
  let store = null;                 // the folders in the browser's storage (store.js)
  let freeRoms = {};                // name -> bytes, as served
  let running = false, paused = false, fast = false;
  let storing = false;              // files on their way to storage: the machine waits
  let clockStart = 0, ticksRun = 0;
  let pendingType = null;           // ?type= text, typed once READY shows
  let lastText = '';
  let messageTimer = 0;

  function say(text) {
    $('message').textContent = text;
    clearTimeout(messageTimer);
    messageTimer = setTimeout(() => { $('message').textContent = ''; }, 15000);
  }
  const count = (n) => n.toLocaleString('en');

  // --- Strings across the boundary ---
  function withString(text, fn) {
    const size = M.lengthBytesUTF8(text);
    const p = M._malloc(size + 1);
    M.stringToUTF8(text, p, size + 1);
    try { return fn(p, size); } finally { M._free(p); }
  }

  // Text through the key pacer, behind whatever is being typed.
  function typeText(text, what) {
    const bytes = new TextEncoder().encode(text).length;
    if (bytes > MaxTypedBytes) {
      say(`${what}: ${count(bytes)} bytes is too long to type (at most ${count(MaxTypedBytes)}); nothing typed.`);
      return false;
    }
    const queued = withString(text, (p, n) => M._lb_type(p, n));
    wake();
    const skipped = M._lb_skipped();
    if (!queued) say(`${what}: nothing to type` + (skipped ? `, ${count(skipped)} characters the ABC80 lacks.` : '.'));
    else if (skipped) say(`${what}: typing ${count(queued)} characters, skipped ${count(skipped)} the ABC80 lacks.`);
    return queued > 0;
  }

  // --- The screen ---
  const lines = () => M._lb_frame_lines(), pixels = () => M._lb_frame_pixels();
  const picture = document.createElement('canvas'); // the frame, one canvas pixel an ABC80 pixel
  const between = document.createElement('canvas'); // the frame at whole scales, for other sizes
  let image = null;
  const View = 'lunabrik.view';     // scale, 4:3 and speed, remembered in localStorage

  // The picture in device pixels: whole device pixels per ABC80 pixel where that fills most of the
  // room; otherwise (a small window, a pixel ratio such as 1.25) the largest size that fits. A 4:3
  // picture has whole device pixels per line and is 4/3 of its height wide.
  function pictureSize() {
    const w = pixels(), h = lines(), ratio = window.devicePixelRatio || 1;
    const across = $('tv').checked ? (4 / 3) * h / w : 1;
    const choice = document.fullscreenElement ? 'auto' : $('scale').value;
    if (choice !== 'auto') {
      const k = Number(choice) * ratio;
      return { width: Math.round(w * across * k), height: Math.round(h * k), ratio };
    }
    // The room: the box's width, and the window's height below its top, less the box's padding,
    // the picture's 2-pixel frame and the on-screen keys when they are shown below it. A phone's
    // page is scrolled to the picture, so there the whole window's height counts, and the picture
    // takes the page's width (at a phone's pixel ratio a fill between whole scales is still sharp).
    const box = canvas.parentElement, style = getComputedStyle(box);
    const padding = parseFloat(style.paddingTop) + parseFloat(style.paddingBottom);
    const narrow = matchMedia('(max-width: 600px)').matches;
    const keys = $('keyboard');
    const below = keys && !keys.hidden && !document.fullscreenElement ? keys.getBoundingClientRect().height : 0;
    const roomX = (box.clientWidth - 4) * ratio;
    const roomY = ((document.fullscreenElement ? box.clientHeight
      : window.innerHeight - (narrow ? 0 : box.getBoundingClientRect().top) - below) - padding - 4) * ratio;
    const fill = Math.max(1, Math.min(roomX / (w * across), roomY / h));
    let k = Math.floor(fill);
    if (narrow || k * k < fill * fill / 2) k = fill; // a whole scale would leave the room empty
    return { width: Math.round(w * across * k), height: Math.round(h * k), ratio };
  }

  function layout() {
    if (!M) return;
    const size = pictureSize();
    canvas.width = size.width;
    canvas.height = size.height;
    canvas.style.width = `${size.width / size.ratio}px`;
    canvas.style.height = `${size.height / size.ratio}px`;
    draw(true);
  }

  // Draws the lines of the frame that changed since the last draw (all after a layout): the cursor
  // blinking at READY redraws one character's band of the canvas, not the whole picture.
  let shown = null;                 // the frame as last drawn
  function draw(all = false) {
    const w = pixels(), h = lines(), stride = M._lb_frame_line_bytes();
    if (!image) {
      picture.width = w; picture.height = h;
      image = new ImageData(w, h);
      shown = new Uint8Array(h * stride);
      all = true;
    }
    const bits = M.HEAPU8.subarray(M._lb_frame(), M._lb_frame() + h * stride);
    let top = 0, bottom = h - 1;
    if (!all) {
      while (top < h && bits.subarray(top * stride, (top + 1) * stride).every((b, i) => b === shown[top * stride + i])) top++;
      if (top === h) return;
      while (bits.subarray(bottom * stride, (bottom + 1) * stride).every((b, i) => b === shown[bottom * stride + i])) bottom--;
    }
    shown.set(bits);
    const px = new Uint32Array(image.data.buffer);
    for (let y = top; y <= bottom; y++)
      for (let x = 0; x < w; x++)
        px[y * w + x] = (bits[y * stride + (x >> 3)] >> (7 - (x & 7))) & 1 ? 0xffffffff : 0xff000000;
    picture.getContext('2d').putImageData(image, 0, 0, 0, top, w, bottom - top + 1);
    const ctx = canvas.getContext('2d');
    // The band of device pixels those lines cover, a line more each side for the smoothed sizes.
    const sy = canvas.height / h;
    const y0 = Math.max(0, Math.floor((top - 1) * sy)), y1 = Math.min(canvas.height, Math.ceil((bottom + 2) * sy));
    ctx.save();
    ctx.beginPath();
    ctx.rect(0, y0, canvas.width, y1 - y0);
    ctx.clip();
    if (canvas.width % w === 0 && canvas.height % h === 0) {
      ctx.imageSmoothingEnabled = false;
      ctx.drawImage(picture, 0, 0, canvas.width, canvas.height);
    } else {
      // Other sizes: enlarged by whole numbers just past the size wanted, then scaled down
      // smoothly, so each ABC80 pixel keeps sharp edges and strokes stay even, blurred by a device
      // pixel at most.
      const kx = Math.ceil(canvas.width / w), ky = Math.ceil(canvas.height / h);
      if (between.width !== w * kx || between.height !== h * ky) {
        between.width = w * kx;
        between.height = h * ky;
      }
      const up = between.getContext('2d');
      up.imageSmoothingEnabled = false;
      const t = Math.max(0, top - 1), n = Math.min(h, bottom + 2) - t;
      up.drawImage(picture, 0, t, w, n, 0, t * ky, w * kx, n * ky);
      ctx.imageSmoothingEnabled = true;
      ctx.imageSmoothingQuality = 'low';
      ctx.drawImage(between, 0, 0, canvas.width, canvas.height);
    }
    ctx.restore();
  }

  function rememberView() {
    try {
      localStorage.setItem(View, JSON.stringify({ scale: $('scale').value, tv: $('tv').checked, speed: fast ? 'max' : 'real' }));
    } catch { /* no storage: the view is not remembered */ }
  }
  function recallView() {
    try {
      const v = JSON.parse(localStorage.getItem(View) || '{}');
      if ([...$('scale').options].some((o) => o.value === v.scale)) $('scale').value = v.scale;
      $('tv').checked = v.tv === true;
      return v.speed;
    } catch {
      return undefined;
    }
  }

  // --- The frame clock ---
  // As fast as possible the machine runs in the browser's animation frames, using most of each. At
  // a real ABC80's pace a timer wakes the page when the next tick is due, so the browser makes a
  // new frame only when the picture changed (the page draws nothing else): a machine waiting at
  // READY costs its ticks and little more.
  // A machine at rest (the picture unchanged at the last wake, no keys on their way) is woken every
  // other tick and runs both; a key or text typed wakes it at the next tick again.
  let lastFrame = 0, timer = 0, resting = false;
  function nextFrame() {
    timer = 0;
    if (fast && running && !paused) {
      requestAnimationFrame(frame);
      return;
    }
    const ticks = resting ? 2 : 1;
    const due = paused || storing || !running ? TickMs : clockStart + (ticksRun + ticks) * TickMs - performance.now();
    timer = setTimeout(() => frame(performance.now()), Math.max(1, due + 1)); // just after, never just before
  }
  function wake() {
    if (!timer || !resting) return;
    clearTimeout(timer);
    resting = false;
    nextFrame();
  }
  function frame(now) {
    try {
      step(now);
    } finally {
      nextFrame();
    }
  }
  function step(now) {
    const interval = now - lastFrame;
    lastFrame = now;
    if (!running) return;
    if (!paused && !storing) {
      if (fast) { // most of a frame, whatever the display's rate, and room left to draw
        const end = now + Math.min(Math.max(interval * 0.7, 4), FastBudgetMs);
        do M._lb_run_tick(FastTickInstructions); while (performance.now() < end && !storing);
      } else {
        let due = Math.floor((now - clockStart) / TickMs) - ticksRun;
        if (due > MaxCatchUp) { ticksRun += due - MaxCatchUp; due = MaxCatchUp; }
        for (; due > 0 && !storing; due--, ticksRun++) M._lb_run_tick(RealTickInstructions);
      }
    }
    // While a file is on its way to storage the machine waits, and the screen keeps what it
    // showed before: READY after a SAVE appears once the file is kept.
    const changed = !storing && M._lb_take_frame();
    resting = !changed && !M._lb_keys_busy();
    if (changed) {
      draw();
      const text = M.UTF8ToString(M._lb_screen_text());
      if (text !== lastText) {
        lastText = text;
        screenText.textContent = text;
      }
    }
    if (pendingType !== null && /^READY/m.test(lastText)) {
      const t = pendingType;
      pendingType = null;
      typeText(t, 'The address');
    }
    const busy = !M._lb_keys_busy();
    if ($('cancel').disabled !== busy) $('cancel').disabled = busy;
    const warnings = M._lb_host_file_warnings();
    if (warnings !== warningsSeen) {
      warningsSeen = warnings;
      say(M.UTF8ToString(M._lb_text()));
    }
    // At a real pace the meter counts the machine's time in whole ticks, so a steady machine keeps
    // a steady figure (wall time would catch a tick more or less in each second).
    showStatus(fast ? now : Math.min(now, clockStart + ticksRun * TickMs));
  }

  // The live status region says what state the machine is in, and changes only with it; the meter
  // beside it shows the speed over the last second or so and how far typing has got.
  let meter = null;
  // A new pace, or a run after a pause: the figure starts afresh, so that none mixes two paces.
  function restartMeter() {
    meter = null;
    showStatus(performance.now(), true);
  }
  function showStatus(now, force = false) {
    const t = M.HEAPU32.subarray(M._lb_typing() >> 2, (M._lb_typing() >> 2) + 6);
    const state = !running ? 'Stopped' : paused ? 'Paused'
      : (fast ? 'Running as fast as possible' : 'Running') + (t[0] ? ', typing' : '');
    if (status.textContent !== state) status.textContent = state;
    const ts = M._lb_tstates();
    if (!meter) meter = { at: now, tstates: ts, mhz: null, typing: '' }; // no speed until measured
    const typing = t[0] ? ` · typing ${count(t[1])} of ${count(t[2])}` + (t[3] ? ` (${count(t[3])} more waiting)` : '') : '';
    if (!force && now - meter.at < 1000 && typing === meter.typing) return;
    meter.typing = typing;
    if (now - meter.at >= 1000)
      meter = { at: now, tstates: ts, mhz: (ts - meter.tstates) / ((now - meter.at) * 1000), typing };
    const speed = paused || meter.mhz === null ? '' : `${meter.mhz.toFixed(2)} MHz, ${Math.round(meter.mhz / 0.03)}% of an ABC80`;
    const text = speed ? speed + typing : typing.replace(/^ · /, '');
    if (meterText.textContent !== text) meterText.textContent = text;
  }

  // The machine stops for the user's pause, and for storage (keys held stay held then).
  function applyPause() {
    M._lb_pause(paused ? 1 : 0);
    if (!paused && storing) M._lb_hold(1);
  }
  function setPaused(p) {
    paused = p;
    applyPause();
    $('pause').textContent = p ? 'Run' : 'Pause';
    $('pause').setAttribute('aria-pressed', String(p));
    if (!p) { clockStart = performance.now(); ticksRun = 0; }
    restartMeter();
  }

  function setFast(f) {
    fast = f;
    M._lb_set_speed(f ? 1 : 0);
    $('speed').value = f ? 'max' : 'real';
    clockStart = performance.now(); ticksRun = 0;
    restartMeter();
  }

  // --- The keyboard: the character a key gives, else the key by its place ---
  const ScanCodes = {
    Escape: 1, Minus: 12, Equal: 13, Backspace: 14, Tab: 15, BracketLeft: 26, BracketRight: 27,
    Enter: 28, NumpadEnter: 28, Semicolon: 39, Quote: 40, Backquote: 41, Backslash: 43,
    Comma: 51, Period: 52, Slash: 53, Space: 57, IntlBackslash: 86,
    ArrowUp: 72, ArrowLeft: 75, ArrowRight: 77, ArrowDown: 80,
  };
  '1234567890'.split('').forEach((d, i) => { ScanCodes['Digit' + d] = 2 + i; });
  ['QWERTYUIOP', 'ASDFGHJKL', 'ZXCVBNM'].forEach((row, r) =>
    row.split('').forEach((c, i) => { ScanCodes['Key' + c] = [16, 30, 44][r] + i; }));
  const otherHosts = new Map();    // keys without a scan code get host ids from 200 up
  function hostId(code) {
    if (code in ScanCodes) return ScanCodes[code];
    if (!otherHosts.has(code)) otherHosts.set(code, 200 + (otherHosts.size % 56));
    return otherHosts.get(code);
  }

  canvas.addEventListener('keydown', (e) => {
    if (!running || e.altKey || e.metaKey) return;
    if (e.ctrlKey && e.code === 'KeyV') return;                       // the browser's paste
    if (e.ctrlKey && e.shiftKey && e.code === 'KeyC') { e.preventDefault(); copyScreen(); return; }
    if (e.key === 'Dead' || e.key === 'Process') return;
    if (e.repeat) { e.preventDefault(); return; }                     // each press once
    const cp = [...e.key].length === 1 ? e.key.codePointAt(0) : 0;
    const scan = ScanCodes[e.code] || 0;
    const got = M._lb_key_down(hostId(e.code), cp, scan, e.shiftKey ? 1 : 0, e.ctrlKey ? 1 : 0);
    wake();
    // Keys of the machine's keyboard do nothing in the page (no scrolling, no going back); Tab
    // still leaves the screen.
    if (got || (scan && e.code !== 'Tab')) e.preventDefault();
  });
  canvas.addEventListener('keyup', (e) => { if (running) M._lb_key_up(hostId(e.code)); });
  canvas.addEventListener('blur', () => { if (running) M._lb_release_keys(); });
  canvas.addEventListener('mousedown', () => canvas.focus());

  // --- Clipboard ---
  // The Clipboard API where the browser allows it; else (a page served over plain http from
  // elsewhere than localhost) the old copy command on a passing text area. Throws when both fail.
  async function copyText(text) {
    try {
      await navigator.clipboard.writeText(text);
      return;
    } catch { /* not allowed here: the old way */ }
    const area = document.createElement('textarea');
    area.value = text;
    document.body.append(area);
    area.select();
    const ok = document.execCommand('copy');
    area.remove();
    if (!ok) throw new Error('the browser refused');
  }
  async function copyScreen() {
    try {
      await copyText(lastText);
      say('Copied the screen as text.');
    } catch (err) {
      say(`Cannot copy: ${err.message}`);
    }
    canvas.focus();
  }
  document.addEventListener('paste', (e) => {
    if (!running || (document.activeElement !== canvas && document.activeElement !== document.body)) return;
    e.preventDefault();
    typeText(e.clipboardData.getData('text/plain'), 'Paste');
  });
  $('copy').onclick = copyScreen;
  $('paste').onclick = async () => {
    try {
      if (!navigator.clipboard) throw new Error('this page may not read the clipboard; press Ctrl+V on the screen');
      typeText(await navigator.clipboard.readText(), 'Paste');
    } catch (err) {
      say(`Cannot paste: ${err.message}`);
    }
    canvas.focus();
  };
  $('cancel').onclick = () => { M._lb_cancel_typing(); say('Typing cancelled.'); canvas.focus(); };

  // --- A file typed in: text only ---
  async function typeFile(file) {
    if (file.size > MaxTypedBytes) {
      say(`${file.name}: ${count(file.size)} bytes is too long to type (at most ${count(MaxTypedBytes)}).`);
      return;
    }
    const bytes = new Uint8Array(await file.arrayBuffer());
    let text;
    try {
      if (bytes.includes(0)) throw new Error();
      text = new TextDecoder('utf-8', { fatal: true }).decode(bytes);
    } catch {
      say(`${file.name} is not a text file; nothing typed.`);
      return;
    }
    typeText(text, file.name);
    canvas.focus();
  }
  document.addEventListener('dragover', (e) => { e.preventDefault(); document.body.classList.add('dragging'); });
  document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
  document.addEventListener('drop', (e) => {
    e.preventDefault();
    document.body.classList.remove('dragging');
    const file = e.dataTransfer.files[0];
    if (file && running) typeFile(file);
  });
  $('type-file').onchange = (e) => { if (e.target.files[0]) typeFile(e.target.files[0]); e.target.value = ''; };

  // --- The files folder in the browser's storage ---
  // store.js keeps each file as the machine closes it; while one is on its way the machine waits.
  let warningsSeen = 0;
  let storageSlow = 0;
  function storageBusy(on) {
    storing = on;
    document.body.dataset.storing = on ? 'yes' : 'no'; // for the tests: writing to storage now
    clearTimeout(storageSlow);
    if (!on) {
      applyPause();
      return;
    }
    M._lb_hold(1);
    // A browser whose storage never answers does not stop the machine for good.
    storageSlow = setTimeout(() => {
      say('The browser\'s storage is slow to keep the files; the machine goes on meanwhile.');
      storing = false;
      applyPause();
    }, 5000);
  }
  function storageFailed(path, err) {
    const name = path.slice(path.lastIndexOf('/') + 1);
    say(`The browser's storage did not keep ${name} (${err?.name || err?.message || err}): ` +
        'it is kept until this page closes, not after. Free some space, or leave private browsing, and save it again.');
  }
  function fileNames() {
    return M.FS.readdir(Files).filter((n) => n !== '.' && n !== '..' && M.FS.isFile(M.FS.stat(`${Files}/${n}`).mode)).sort();
  }
  function showFiles() {
    const body = $('files').tBodies[0];
    body.replaceChildren();
    for (const name of fileNames()) {
      const row = body.insertRow();
      row.insertCell().textContent = name;
      const size = row.insertCell();
      size.className = 'size';
      size.textContent = `${count(M.FS.stat(`${Files}/${name}`).size)} bytes`;
      const get = document.createElement('button');
      get.textContent = 'Download';
      get.onclick = () => {
        const a = document.createElement('a');
        a.href = URL.createObjectURL(new Blob([M.FS.readFile(`${Files}/${name}`)]));
        a.download = name;
        a.click();
        setTimeout(() => URL.revokeObjectURL(a.href), 10000);
      };
      const del = document.createElement('button');
      del.textContent = 'Delete';
      del.onclick = () => {
        if (!confirm(`Delete ${name} from the files folder?`)) return;
        M.FS.unlink(`${Files}/${name}`);
        showFiles();
      };
      row.insertCell().append(get, ' ', del);
    }
    if (!body.rows.length) body.insertRow().insertCell().textContent = 'No files yet.';
  }
  $('upload').onchange = async (e) => {
    for (const file of e.target.files) {
      if (file.size > MaxUploadBytes) { say(`${file.name}: ${count(file.size)} bytes is more than the files folder takes (${count(MaxUploadBytes)}).`); continue; }
      if (!/^[^/\\\0]+$/.test(file.name) || file.name.startsWith('.')) { say(`${file.name}: not a name the files folder takes.`); continue; }
      try {
        M.FS.writeFile(`${Files}/${file.name}`, new Uint8Array(await file.arrayBuffer()));
      } catch (err) {
        say(`${file.name}: cannot be kept (${err.message || err}).`);
      }
    }
    e.target.value = '';
    showFiles();
  };

  // --- ROM images: the free ones as served, or the user's own from storage ---
  function romBytes(name) {
    const path = `${UserRoms}/${name}`;
    try {
      const data = M.FS.readFile(path);
      if (data.length === RomSizes[name]) return { data, own: true };
    } catch { /* none of the user's */ }
    return { data: freeRoms[name], own: false };
  }
  function boot() {
    const own = [];
    for (const name of Object.keys(RomSizes)) {
      const r = romBytes(name);
      M.FS.writeFile(`${Home}/${name}`, r.data);
      if (r.own) own.push(name);
    }
    $('roms-in-use').textContent = own.length ? `your own ${own.join(', ')}` + (own.length < 3 ? ', the free others' : '') : 'the free ROMs';
    if (M._lb_boot() !== 0) {
      running = false;
      say(`Cannot start the machine: ${M.UTF8ToString(M._lb_text())} is missing or unreadable.`);
      return;
    }
    const note = M.UTF8ToString(M._lb_text());
    if (note) say(note);
    M._lb_set_speed(fast ? 1 : 0);
    if (paused) M._lb_pause(1);
    running = true;
    clockStart = performance.now(); ticksRun = 0;
  }
  for (const input of document.querySelectorAll('input[data-rom]')) {
    input.onchange = async () => {
      const file = input.files[0], name = input.dataset.rom;
      input.value = '';
      if (!file) return;
      if (file.size !== RomSizes[name]) {
        say(`${file.name} has ${count(file.size)} bytes; ${name} must have ${count(RomSizes[name])}. The ROMs in use stay.`);
        return;
      }
      try {
        M.FS.writeFile(`${UserRoms}/${name}`, new Uint8Array(await file.arrayBuffer()));
      } catch (err) {
        say(`${file.name}: cannot be kept (${err.message || err}). The ROMs in use stay.`);
        return;
      }
      boot();
      say(`Started afresh with your ${name}.`);
      canvas.focus();
    };
  }
  $('free-roms').onclick = () => {
    for (const name of Object.keys(RomSizes)) try { M.FS.unlink(`${UserRoms}/${name}`); } catch { /* none */ }
    boot();
    say('Started afresh with the free ROMs.');
    canvas.focus();
  };

  // --- Controls ---
  // Disabled in the page until the machine runs; the view controls work from the start.
  $('pause').onclick = () => { setPaused(!paused); canvas.focus(); };
  $('reset').onclick = () => { M._lb_reset(); canvas.focus(); };
  $('speed').onchange = () => { setFast($('speed').value === 'max'); rememberView(); canvas.focus(); };
  $('scale').onchange = () => { rememberView(); layout(); };
  $('tv').onchange = () => { rememberView(); layout(); };
  for (const b of document.querySelectorAll('button[data-pick]')) b.onclick = () => $(b.dataset.pick).click();
  $('full-screen').onclick = () => {
    const box = $('screen-box');
    if (!box.requestFullscreen) { say('This browser shows no page in full screen.'); return; }
    box.requestFullscreen().then(() => canvas.focus(), (err) => say(`No full screen: ${err.message}`));
  };
  document.addEventListener('fullscreenchange', layout);
  window.addEventListener('resize', layout);
  // The header wraps onto more lines as the status and meter fill in: the room below it changes.
  new ResizeObserver(() => layout()).observe(document.querySelector('header'));
  // The ratio changes with the browser's zoom and between displays; resize does not always say.
  const watchRatio = () => matchMedia(`(resolution: ${window.devicePixelRatio}dppx)`)
    .addEventListener('change', () => { layout(); watchRatio(); }, { once: true });
  watchRatio();

  // The options after ? or after # (a long listing there never reaches the server); # again when
  // it changes on the open page.
  function addressOptions(params) {
    if (params.has('type')) pendingType = params.get('type');
    if (params.has('speed') && M) setFast(params.get('speed') === 'max');
  }
  window.addEventListener('hashchange', () => addressOptions(new URLSearchParams(location.hash.slice(1))));

  // --- Start ---
  async function start() {
    const params = new URLSearchParams(location.search);
    for (const [k, v] of new URLSearchParams(location.hash.slice(1))) params.set(k, v);
    addressOptions(params);
    const remembered = recallView();
    fast = (params.get('speed') ?? remembered) === 'max';
    if ('serviceWorker' in navigator && /^https?:$/.test(location.protocol))
      navigator.serviceWorker.register('sw.js').catch(() => { /* served without it: no offline use */ });
    try {
      const names = Object.keys(RomSizes);
      const [module, ...roms] = await Promise.all([createLunabrik(),
        ...names.map((n) => fetch(n).then((r) => { if (!r.ok) throw new Error(`${n}: ${r.status}`); return r.arrayBuffer(); }))]);
      M = module;
      names.forEach((n, i) => { freeRoms[n] = new Uint8Array(roms[i]); });
    } catch (err) {
      status.textContent = 'Not started';
      say(`Cannot load the machine: ${err.message}`);
      return;
    }
    M.FS.mkdir(Home);
    M.FS.mkdir(Files);
    M.FS.mkdir(UserRoms);
    M.FS.chdir(Home);
    store = lunabrikStore(M.FS, [Files, UserRoms], { changed: showFiles, failed: storageFailed, busy: storageBusy });
    try {
      await store.load();
    } catch (err) {
      say(`The browser's storage cannot be read (${err?.message || err}): files last only until this page closes.`);
    }
    boot();
    $('speed').value = fast ? 'max' : 'real';
    for (const c of document.querySelectorAll('header button, header select, section button'))
      if (c.id !== 'cancel') c.disabled = false;
    layout();
    showFiles();
    canvas.focus();
    nextFrame();
    const page = {
      M, canvas, say, typeText, setPaused, copyText,
      get paused() { return paused; }, get running() { return running; },
      get screenText() { return lastText; },
      typeAtReady(text) { pendingType = text; },
    };
    for (const add of addons.addons) add(page);
  }
  start();
})();
