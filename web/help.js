// Help on the page: the key map and the free BASIC's summary, from the same Markdown files the
// desktop program's Help shows (copied beside the page by the build), and sample programs typed
// in with one click.
'use strict';
if (typeof document !== 'undefined') (() => {
  const escape = (t) => t.replace(/[&<>"]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' })[c]);
  // `code` (any number of backticks), **bold**; the rest as text.
  function inline(text) {
    let out = '';
    const re = /(`+)(.*?[^`])\1(?!`)|\*\*(.+?)\*\*/g;
    let at = 0, m;
    while ((m = re.exec(text))) {
      out += escape(text.slice(at, m.index));
      out += m[1] ? `<code>${escape(m[2].trim() || m[2])}</code>` : `<strong>${inline(m[3])}</strong>`;
      at = re.lastIndex;
    }
    return out + escape(text.slice(at));
  }
  // A table row's cells: | splits them except inside code.
  function cells(line) {
    const out = [];
    let cell = '', ticks = 0;
    for (let i = 0; i < line.length; i++) {
      const c = line[i];
      if (c === '`') {
        let n = 1;
        while (line[i + n] === '`') n++;
        if (!ticks) ticks = n; else if (n === ticks) ticks = 0;
        cell += '`'.repeat(n);
        i += n - 1;
      } else if (c === '|' && !ticks) { out.push(cell.trim()); cell = ''; } else cell += c;
    }
    out.push(cell.trim());
    return out.slice(line.trimStart().startsWith('|') ? 1 : 0, line.trimEnd().endsWith('|') ? -1 : undefined);
  }
  // The Markdown these texts use: headings, paragraphs, lists, tables and fenced code.
  function markdown(text) {
    const lines = text.replace(/\r/g, '').split('\n'), html = [];
    for (let i = 0; i < lines.length;) {
      const line = lines[i];
      if (!line.trim()) { i++; continue; }
      let m;
      if ((m = /^(#{1,6})\s+(.*)/.exec(line))) {
        const level = Math.min(6, m[1].length + 1);
        html.push(`<h${level}>${inline(m[2])}</h${level}>`);
        i++;
      } else if (line.startsWith('```')) {
        const code = [];
        for (i++; i < lines.length && !lines[i].startsWith('```'); i++) code.push(lines[i]);
        i++;
        html.push(`<pre><code>${escape(code.join('\n'))}</code></pre>`);
      } else if (line.startsWith('|')) {
        const rows = [];
        for (; i < lines.length && lines[i].startsWith('|'); i++)
          if (!/^\|[\s|:-]+\|?$/.test(lines[i])) rows.push(cells(lines[i]));
        const [head, ...body] = rows;
        html.push(`<table><thead><tr>${head.map((c) => `<th>${inline(c)}</th>`).join('')}</tr></thead><tbody>` +
          body.map((r) => `<tr>${r.map((c) => `<td>${inline(c)}</td>`).join('')}</tr>`).join('') + '</tbody></table>');
      } else if (/^[-*] /.test(line)) {
        const items = [];
        for (; i < lines.length && (/^[-*] /.test(lines[i]) || /^\s+\S/.test(lines[i])); i++)
          if (/^[-*] /.test(lines[i])) items.push(lines[i].slice(2)); else items[items.length - 1] += ' ' + lines[i].trim();
        html.push(`<ul>${items.map((t) => `<li>${inline(t)}</li>`).join('')}</ul>`);
      } else {
        const para = [];
        for (; i < lines.length && lines[i].trim() && !/^(#|```|\||[-*] )/.test(lines[i]); i++) para.push(lines[i].trim());
        html.push(`<p>${inline(para.join(' '))}</p>`);
      }
    }
    return html.join('\n');
  }
  // The section of a Markdown text under a heading, to the next heading of its level.
  function section(text, heading) {
    const start = text.indexOf(heading);
    if (start < 0) return '';
    const end = text.indexOf('\n## ', start + 1);
    return text.slice(start, end < 0 ? undefined : end);
  }
  const get = (path) => fetch(path).then((r) => { if (!r.ok) throw new Error(`${path}: ${r.status}`); return r.text(); });

  globalThis.lunabrikPage.addons.push(async (page) => {
    const $ = (id) => document.getElementById(id);
    try {
      const [keys, basic, list] = await Promise.all([get('help/keyboard.md'), get('help/basic.md'), get('samples/list.txt')]);
      // The page types as the desktop program does in its default mode; its own keys are listed
      // beside.
      $('help-keys').innerHTML = markdown(section(keys, '## Keyboard as typed'));
      $('help-basic').innerHTML = markdown(basic);
      const box = $('help-samples');
      box.append(Object.assign(document.createElement('h3'), { textContent: 'Sample programs' }));
      for (const name of list.split('\n').map((n) => n.trim()).filter(Boolean)) {
        const b = document.createElement('button');
        b.type = 'button';
        b.textContent = name.replace(/\.BAS$/i, '');
        b.dataset.sample = name;
        b.onclick = async () => {
          try {
            const text = await get(`samples/${name}`);
            if (page.typeText(`NEW\n${text}RUN\n`, name)) page.say(`Typing in ${name} and running it.`);
          } catch (err) {
            page.say(`Cannot load ${name}: ${err.message}`);
          }
          page.canvas.focus();
        };
        box.append(b);
      }
    } catch (err) {
      $('help-keys').textContent = `The help texts did not load (${err.message}).`;
    }
  });
})();
