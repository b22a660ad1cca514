// The page's icon, drawn as the ABC80 draws: white mosaic blocks on black, an L and the cursor.
// Writes icon.svg, icon-192.png and icon-512.png into the folder given.
// Usage: node icon.mjs FOLDER
import { writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { crc32, deflateSync } from 'node:zlib';

const Blocks = [
  '..........',
  '..........',
  '..#.......',
  '..#.......',
  '..#.......',
  '..#.......',
  '..#.......',
  '..####.##.',
  '..........',
  '..........',
];
const cells = Blocks.length;
const folder = process.argv[2] ?? '.';

const rects = [];
Blocks.forEach((row, y) => [...row].forEach((c, x) => {
  if (c === '#') rects.push(`<rect x="${x}" y="${y}" width="1" height="1"/>`);
}));
writeFileSync(join(folder, 'icon.svg'), `<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 ${cells} ${cells}">` +
  `<rect width="${cells}" height="${cells}" fill="#000"/><g fill="#fff">${rects.join('')}</g></svg>\n`);

function png(size) {
  const raw = Buffer.alloc((size * 3 + 1) * size);
  for (let y = 0; y < size; y++) {
    const row = Blocks[Math.floor((y * cells) / size)];
    for (let x = 0; x < size; x++)
      raw.fill(row[Math.floor((x * cells) / size)] === '#' ? 255 : 0, y * (size * 3 + 1) + 1 + x * 3, y * (size * 3 + 1) + 4 + x * 3);
  }
  const chunk = (type, data) => {
    const head = Buffer.alloc(8);
    head.writeUInt32BE(data.length);
    head.write(type, 4, 'latin1');
    const crc = Buffer.alloc(4);
    crc.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])));
    return Buffer.concat([head, data, crc]);
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(size, 0);
  header.writeUInt32BE(size, 4);
  header.set([8, 2, 0, 0, 0], 8); // 8 bits, RGB
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header), chunk('IDAT', deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]);
}
for (const size of [192, 512]) writeFileSync(join(folder, `icon-${size}.png`), png(size));
