// Share: "Copy link" puts the program in memory into the address's fragment, deflated and in
// base64url, so no server ever sees it and a long program still fits. A page opened with such a
// fragment, or whose fragment changes to one, types the program in at READY.
'use strict';
if (typeof document !== 'undefined') (() => {
  const Key = 'program';
  const MaxProgramBytes = 1 << 20;  // inflated; typing refuses far less (a bomb stops here)

  const base64url = (bytes) => {
    let s = '';
    for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(s).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
  };
  const unbase64url = (text) =>
    Uint8Array.from(atob(text.replace(/-/g, '+').replace(/_/g, '/')), (c) => c.charCodeAt(0));

  async function pack(text) {
    const stream = new Blob([text]).stream().pipeThrough(new CompressionStream('deflate-raw'));
    return base64url(new Uint8Array(await new Response(stream).arrayBuffer()));
  }
  async function unpack(code) {
    const stream = new Blob([unbase64url(code)]).stream().pipeThrough(new DecompressionStream('deflate-raw'));
    const reader = stream.getReader(), parts = [];
    let size = 0;
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      size += value.length;
      if (size > MaxProgramBytes) { reader.cancel(); throw new Error('the program in it is far too long'); }
      parts.push(value);
    }
    return new TextDecoder('utf-8', { fatal: true }).decode(await new Blob(parts).arrayBuffer());
  }
  const fragmentProgram = () => new URLSearchParams(location.hash.slice(1)).get(Key);

  globalThis.lunabrikPage.addons.push((page) => {
    const M = page.M, button = document.getElementById('share'), shown = document.getElementById('share-link');
    button.disabled = false;
    // The free BASIC's symbols say where its program lies; the next boots find them in the
    // working folder too.
    fetch('basic.rom.sym').then((r) => (r.ok ? r.arrayBuffer() : null)).then((data) => {
      if (!data) return;
      M.FS.writeFile('basic.rom.sym', new Uint8Array(data));
      M._lb_load_rom_symbols();
    }).catch(() => { /* Copy link then says the symbols are missing */ });

    async function takeFragment() {
      const code = fragmentProgram();
      if (!code) return;
      try {
        const text = await unpack(code);
        // NEW first: the link's program, not a mix with the one in memory.
        page.typeAtReady('NEW\n' + text);
        page.say('Typing in the program from the link at READY; RUN starts it.');
      } catch (err) {
        page.say(`The link holds no program this page can read (${err.message || err}).`);
      }
    }

    button.onclick = async () => {
      if (M._lb_program_text() !== 0) {
        const why = M.UTF8ToString(M._lb_text());
        page.say('Cannot make a link: ' + (/symbols/.test(why)
          ? 'the program can be read from the free BASIC only, and other ROM images are in use.' : `${why}.`));
        return;
      }
      const text = M.UTF8ToString(M._lb_text());
      if (!text) { page.say('There is no program in memory to share.'); return; }
      const link = `${location.origin}${location.pathname}#${Key}=${await pack(text)}`;
      shown.value = link;
      shown.hidden = false;
      try {
        await navigator.clipboard.writeText(link);
        page.say(`Copied a link to the program (${text.split('\n').length - 1} lines, ${link.length.toLocaleString('en')} characters).`);
      } catch {
        shown.select();
        page.say('The link is below the buttons: copy it from there (this page may not write the clipboard).');
      }
    };
    window.addEventListener('hashchange', takeFragment);
    takeFragment();
  });
})();
