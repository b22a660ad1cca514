// Phones and tablets: an on-screen ABC80 keyboard (shown on touch screens, toggled elsewhere) and
// a text field that opens the device's own keyboard. The on-screen keys are held as long as they
// are touched, like the host's keys; what the device's keyboard or an input method gives is typed
// as the keys that give it, after the keys before it.
'use strict';
if (typeof document !== 'undefined') (() => {
  // Each key: its label, the character it gives and with Shift (none for the keys that go by
  // their place), and its set-1 scan code at its place on the Swedish keyboard.
  const letters = (row, first) => [...row].map((c, i) => [c, c, c.toLowerCase(), first + i]);
  const Rows = [
    [['1', '1', '!', 2], ['2', '2', '"', 3], ['3', '3', '#', 4], ['4', '4', '¤', 5], ['5', '5', '%', 6],
      ['6', '6', '&', 7], ['7', '7', '/', 8], ['8', '8', '(', 9], ['9', '9', ')', 10], ['0', '0', '=', 11],
      ['+', '+', '?', 12], ['É', 'É', 'é', 13], ['⌫', null, null, 14, 'wide', 'Backspace']],
    [...letters('QWERTYUIOP', 16), ['Å', 'Å', 'å', 26], ['Ü', 'Ü', 'ü', 27], ['⏎', null, null, 28, 'wide', 'Return']],
    [['Ctrl', null, null, 0, 'wide modifier', 'Control'], ...letters('ASDFGHJKL', 30), ['Ö', 'Ö', 'ö', 39],
      ['Ä', 'Ä', 'ä', 40], ["'", "'", '*', 43]],
    [['Shift', null, null, 0, 'wide modifier', 'Shift'], ['<', '<', '>', 86], ...letters('ZXCVBNM', 44),
      [',', ',', ';', 51], ['.', '.', ':', 52], ['-', '-', '_', 53]],
    [['Ctrl-C', null, null, 46, 'wide break', 'Ctrl-C'], ['←', null, null, 75, '', 'Left'],
      [' ', ' ', ' ', 57, 'space', 'Space'], ['→', null, null, 77, '', 'Right']],
  ];
  const FirstHost = 100; // host key ids of the on-screen keys (the page's own keys lie below and above)

  globalThis.lunabrikPage.addons.push((page) => {
    const M = page.M, $ = (id) => document.getElementById(id);
    const board = $('keyboard'), field = $('type-in'), toggle = $('keyboard-toggle');
    let shift = false, control = false;

    // --- The on-screen keyboard ---
    const keys = [];
    Rows.forEach((row) => {
      const line = document.createElement('div');
      line.className = 'keys';
      for (const [label, plain, shifted, scan, kind = '', name = ''] of row) {
        const b = document.createElement('button');
        b.type = 'button';
        b.className = `key ${kind}`.trim();
        b.textContent = label;
        if (name) b.setAttribute('aria-label', name);
        b.dataset.key = name || label;
        const key = { b, label, plain, shifted, scan, host: FirstHost + keys.length };
        keys.push(key);
        line.append(b);
      }
      board.append(line);
    });
    function showShift() {
      for (const k of keys) {
        if (k.plain && k.plain !== ' ') k.b.textContent = shift ? k.shifted : k.plain;
        if (k.label === 'Shift') k.b.setAttribute('aria-pressed', shift);
        if (k.label === 'Ctrl') k.b.setAttribute('aria-pressed', control);
      }
    }
    function press(k) {
      if (k.label === 'Shift') { shift = !shift; showShift(); return; }
      if (k.label === 'Ctrl') { control = !control; showShift(); return; }
      if (k.label === 'Ctrl-C') { M._lb_key_down(k.host, 0, k.scan, 0, 1); return; }
      const ch = k.plain ? (shift ? k.shifted : k.plain) : '';
      // Without Ctrl the character the key shows; with Ctrl (or for keys without one) the key at
      // its place with the modifiers latched.
      M._lb_key_down(k.host, !control && ch ? ch.codePointAt(0) : 0, k.scan, shift ? 1 : 0, control ? 1 : 0);
      if (shift || control) { shift = control = false; showShift(); } // latched for one key
    }
    const held = new Map(); // pointer id -> key
    board.addEventListener('pointerdown', (e) => {
      const k = keys.find((x) => x.b === e.target.closest('.key'));
      if (!k || !page.running) return;
      e.preventDefault(); // the keyboard keeps the focus where it was, no text selection
      press(k);
      held.set(e.pointerId, k);
      k.b.classList.add('down');
    });
    const letGo = (e) => {
      const k = held.get(e.pointerId);
      if (!k) return;
      held.delete(e.pointerId);
      k.b.classList.remove('down');
      M._lb_key_up(k.host);
    };
    for (const type of ['pointerup', 'pointercancel', 'pointerleave']) board.addEventListener(type, letGo);
    board.addEventListener('contextmenu', (e) => e.preventDefault()); // a key held long is still a key
    // Keyboard users: Enter or Space on a focused key presses it once.
    board.addEventListener('click', (e) => {
      if (e.detail !== 0) return; // a pointer's click: pressed already
      const k = keys.find((x) => x.b === e.target.closest('.key'));
      if (!k || !page.running) return;
      press(k);
      M._lb_key_up(k.host);
    });

    function showKeyboard(on) {
      board.hidden = !on;
      toggle.setAttribute('aria-pressed', on);
      window.dispatchEvent(new Event('resize')); // the picture makes room
    }
    toggle.onclick = () => {
      showKeyboard(board.hidden);
      if (!board.hidden) board.scrollIntoView({ block: 'nearest' });
    };
    toggle.disabled = false;
    const touch = matchMedia('(pointer: coarse)').matches || navigator.maxTouchPoints > 0;
    showKeyboard(touch);
    // A phone shows the picture and the keys together; the controls are a scroll up.
    if (touch && innerHeight < document.documentElement.scrollHeight) page.canvas.scrollIntoView({ block: 'start' });

    // --- The device's own keyboard, through a text field ---
    // The field stays empty: what arrives is typed at once. What an input method composes (a
    // phone's keyboard composes every word) is mirrored as it changes: characters added are typed,
    // those taken back deleted with Backspace, and the end of the composition settles it.
    const Typable = /[\x20-\x7e¤ÅÄÖÉÜåäöéü]/u;
    let composing = false, mirrored = '';
    const strokes = (text) => {
      const size = M.lengthBytesUTF8(text), p = M._malloc(size + 1);
      M.stringToUTF8(text, p, size + 1);
      try { return M._lb_strokes(p, size); } finally { M._free(p); }
    };
    function send(text) {
      if (!text || !page.running) return;
      if (text.length > 64) page.typeText(text, 'The text'); // a paste into the field
      else if (!strokes(text) && M._lb_skipped()) page.say(`The ABC80 has no key for ${text}.`);
    }
    function mirror(text) {
      if (!page.running) return;
      const want = [...text].filter((c) => Typable.test(c));
      const had = [...mirrored];
      let same = 0;
      while (same < had.length && same < want.length && had[same] === want[same]) same++;
      for (let n = had.length - same; n > 0; n--) M._lb_stroke(14, 0, 0);
      if (want.length > same) strokes(want.slice(same).join(''));
      mirrored = want.join('');
    }
    field.addEventListener('compositionstart', () => { composing = true; mirrored = ''; });
    field.addEventListener('compositionend', () => {
      mirror(field.value);
      composing = false;
      mirrored = '';
      field.value = '';
    });
    field.addEventListener('beforeinput', (e) => {
      if (!page.running || composing) return;
      switch (e.inputType) {
        case 'deleteContentBackward':
          e.preventDefault();
          M._lb_stroke(14, 0, 0);
          break;
        case 'insertLineBreak':
        case 'insertParagraph':
          e.preventDefault();
          send('\n');
          break;
        default:
      }
    });
    field.addEventListener('input', (e) => {
      if (composing || e.isComposing) { mirror(field.value); return; }
      if (e.inputType === 'insertText' || e.inputType === 'insertFromPaste' || e.inputType === 'insertReplacementText')
        send(e.data ?? field.value);
      field.value = '';
    });
    // Keys the field does not turn into text: arrows, Enter, Backspace from a hardware keyboard.
    field.addEventListener('keydown', (e) => {
      if (e.isComposing || e.keyCode === 229) return;
      const scan = { ArrowLeft: 75, ArrowRight: 77, Enter: 28, Backspace: 14 }[e.key];
      if (scan) { e.preventDefault(); M._lb_stroke(scan, 0, 0); }
      else if (e.ctrlKey && /^[a-z]$/i.test(e.key)) {
        e.preventDefault();
        const k = keys.find((x) => x.plain === e.key.toUpperCase());
        if (k) M._lb_stroke(k.scan, 0, 1);
      }
    });
    $('type-in-label').hidden = false;
  });
})();
