// Mouse selection: a drag over the screen marks a rectangle of character cells, copied as text
// when the button goes up (the same text as the desktop program's selection: Swedish letters as
// themselves, mosaic cells as sextants). A click elsewhere on the screen, or a key, takes it away;
// the middle button types the latest selection, as in the desktop program, and nothing else.
'use strict';
if (typeof document !== 'undefined') (() => {
  globalThis.lunabrikPage.addons.push((page) => {
    const M = page.M, canvas = page.canvas;
    const rows = M._lb_screen_rows(), columns = M._lb_screen_columns();
    const mark = document.createElement('div');
    mark.id = 'selection';
    mark.hidden = true;
    document.body.append(mark);
    let anchor = null, current = null, dragging = false, selected = false, latest = '';

    function cellAt(e) {
      const r = canvas.getBoundingClientRect();
      const clamp = (v, n) => Math.min(n - 1, Math.max(0, v));
      return { row: clamp(Math.floor((e.clientY - r.top) * rows / r.height), rows),
               column: clamp(Math.floor((e.clientX - r.left) * columns / r.width), columns) };
    }
    function cells() {
      return { top: Math.min(anchor.row, current.row), bottom: Math.max(anchor.row, current.row),
               left: Math.min(anchor.column, current.column), right: Math.max(anchor.column, current.column) };
    }
    function show() {
      mark.hidden = !selected;
      if (!selected) return;
      const r = canvas.getBoundingClientRect(), c = cells();
      const w = r.width / columns, h = r.height / rows;
      Object.assign(mark.style, {
        left: `${window.scrollX + r.left + c.left * w}px`, top: `${window.scrollY + r.top + c.top * h}px`,
        width: `${(c.right - c.left + 1) * w}px`, height: `${(c.bottom - c.top + 1) * h}px`,
      });
    }
    function clear() { if (selected) { selected = false; show(); } }

    async function copy(text) {
      try {
        await page.copyText(text);
      } catch (err) {
        page.say(`Cannot copy the selection: ${err.message}.`);
        return;
      }
      const c = cells(), n = c.bottom - c.top + 1;
      page.say(`Copied ${n} ${n === 1 ? 'line' : 'lines'} of ${c.right - c.left + 1} characters.`);
      canvas.focus();
    }

    canvas.addEventListener('pointerdown', (e) => {
      if (e.pointerType === 'mouse' && e.button === 1 && page.running) {
        e.preventDefault(); // no scrolling by the middle button here
        if (latest) page.typeText(latest, 'The selection');
        return;
      }
      if (e.pointerType !== 'mouse' || e.button !== 0 || !page.running) return;
      clear();
      dragging = true;
      anchor = current = cellAt(e);
      canvas.setPointerCapture(e.pointerId);
    });
    canvas.addEventListener('pointermove', (e) => {
      if (!dragging) return;
      const cell = cellAt(e);
      if (selected && cell.row === current.row && cell.column === current.column) return;
      current = cell;
      selected = true;
      show();
    });
    canvas.addEventListener('pointerup', (e) => {
      if (!dragging || e.button !== 0) return;
      dragging = false;
      if (!selected) return;
      const c = cells();
      latest = M.UTF8ToString(M._lb_screen_text_rect(c.top, c.left, c.bottom, c.right));
      copy(latest);
    });
    // The middle button is the selection's alone on the screen: no autoscroll where it goes down,
    // and no paste of the primary selection where it comes up (Chromium on Linux pastes on the
    // release unless the pointerup is cancelled; others may paste on the mouseup or the auxclick).
    for (const type of ['mousedown', 'pointerup', 'mouseup', 'auxclick'])
      canvas.addEventListener(type, (e) => { if (e.button === 1) e.preventDefault(); });
    canvas.addEventListener('keydown', clear);
    window.addEventListener('resize', clear);
  });
})();
