// The page in each browser engine (Chromium, Firefox, WebKit; Debian's,
// driven as web/test/browsers.mjs drives them): how long it takes to
// convert, preview and zip 1,000 palette-less images of 4 KiB, and how
// large the module and the page are. A benchmark, not a test.
//   cmake -S . -B build -DPALFILL_WEB=ON && cmake --build build --target palfill_web
//   (cd web && npm ci) && xvfb-run -a node bench/web_bench.mjs [build] [rounds] [engines]
import { mkdirSync, mkdtempSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import { deflateSync } from 'node:zlib';
import { launch, missing } from '../web/test/browsers.mjs';

const build = resolve(process.argv[2] ?? 'build');
const rounds = Number(process.argv[3] ?? 5);
const engineNames = (process.argv[4] ?? 'chromium,firefox,webkit').split(',');

function crc32(bytes) {
  let crc = 0xffffffff;
  for (const byte of bytes) {
    crc ^= byte;
    for (let k = 0; k < 8; k++) crc = crc & 1 ? 0xedb88320 ^ (crc >>> 1) : crc >>> 1;
  }
  return (crc ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const out = Buffer.alloc(12 + data.length);
  out.writeUInt32BE(data.length, 0);
  out.write(type, 4, 'latin1');
  data.copy(out, 8);
  out.writeUInt32BE(crc32(out.subarray(4, 8 + data.length)), 8 + data.length);
  return out;
}

// 64 x 60, 8-bit indexes, no PLTE, stored deflate: 4,040 bytes.
function image(seed) {
  const rows = Buffer.alloc(60 * 65);
  for (let y = 0; y < 60; y++) for (let x = 0; x < 64; x++) rows[y * 65 + 1 + x] = (x * 7 + y * 3 + seed) % 128;
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(64, 0);
  ihdr.writeUInt32BE(60, 4);
  ihdr[8] = 8;
  ihdr[9] = 3;
  return Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', ihdr),
    chunk('IDAT', deflateSync(rows, { level: 0 })), chunk('IEND', Buffer.alloc(0))]);
}

const dir = mkdtempSync(join(tmpdir(), 'palfill-web-bench-'));
mkdirSync(join(dir, 'in'));
for (let i = 0; i < 1000; i++) writeFileSync(join(dir, 'in', `${String(i).padStart(4, '0')}.png`), image(i));
const files = Array.from({ length: 1000 }, (_, i) => join(dir, 'in', `${String(i).padStart(4, '0')}.png`));
const results = [];
for (const engine of engineNames) {
  if (missing(engine)) {
    console.log(`${engine}: ${missing(engine)}`);
    continue;
  }
  const browser = await launch(engine);
  const times = [];
  for (let round = 0; round < rounds; round++) {
    const page = await browser.open(pathToFileURL(join(build, 'web', 'palfill.html')).href);
    // The page's own clock, from the moment the files arrive (the driver's
    // handing them over, which a person's choice does not cost, is left out).
    await page.evaluate(() => {
      document.getElementById('png-files').addEventListener('change', () => { window.arrived = performance.now(); },
        { capture: true, once: true });
    });
    const handed = Date.now();
    await page.setFiles('#png-files', files);
    const converted = await page.waitFor(() =>
      document.getElementById('status').textContent.startsWith('1000 images done') && performance.now() - window.arrived);
    // The previews on screen; the others are drawn as they scroll into view.
    const previewed = await page.waitFor(() => {
      const shown = [...document.images].filter((img) => img.src !== '');
      return shown.length > 0 && shown.every((img) => img.complete && img.naturalWidth > 0) && performance.now() - window.arrived;
    });
    await page.click('#download-all');
    const zipped = await page.waitFor(() => document.getElementById('zip-link').blob && performance.now() - window.arrived);
    times.push({ converted, previewed, zipped, total: Date.now() - handed });
    await page.close();
  }
  await browser.close();
  results.push([engine, times]);
}
rmSync(dir, { recursive: true });

const median = (values) => values.sort((a, b) => a - b)[Math.floor(values.length / 2)];
console.log(`module ${statSync(join(build, 'web', 'palfill.wasm')).size} bytes, ` +
  `page ${statSync(join(build, 'web', 'palfill.html')).size} bytes`);
console.log(`1,000 images of 4 KiB, median of ${rounds} rounds, ms after the files arrive:`);
for (const [engine, times] of results) {
  const stages = ['converted', 'previewed', 'zipped'].map((stage) => `${stage} ${Math.round(median(times.map((t) => t[stage])))}`);
  console.log(`  ${engine.padEnd(9)} ${stages.join('  ')}  (with the driver handing the files over: ${median(times.map((t) => t.total))})`);
}
