// The page in each browser engine (Chromium, Firefox, WebKit; Debian's,
// driven as web/test/browsers.mjs drives them): how long it takes to
// convert and zip 20,000 palette-less images of 4 KiB, and, in Chromium,
// how much memory the page's renderer takes at its peak while it converts
// and zips a 1 GiB archive of 512 images of 2 MiB. A benchmark, not a test.
//   cmake -S . -B build -DPALFILL_WEB=ON && cmake --build build --target palfill_web
//   (cd web && npm ci) && PALFILL_WAIT_SECONDS=600 xvfb-run -a node bench/web_bench.mjs [build] [rounds] [engines]
import { mkdirSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { randomBytes } from 'node:crypto';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import { deflateSync } from 'node:zlib';
import { launch, missing } from '../web/test/browsers.mjs';

const build = resolve(process.argv[2] ?? 'build');
const rounds = Number(process.argv[3] ?? 3);
const engineNames = (process.argv[4] ?? 'chromium,firefox,webkit').split(',');
const pageUrl = pathToFileURL(join(build, 'web', 'palfill.html')).href;

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
  out.writeUInt32BE(type === 'IDAT' && data.length > 65536 ? 0 : crc32(out.subarray(4, 8 + data.length)), 8 + data.length);
  return out;
}

// 64 x 60, 8-bit indexes, no PLTE, stored deflate: 4,040 bytes; or one
// IDAT of `idat` random bytes (CRCs unchecked: only the sizes matter).
function image(seed, idat = 0) {
  const rows = Buffer.alloc(60 * 65);
  for (let y = 0; y < 60; y++) for (let x = 0; x < 64; x++) rows[y * 65 + 1 + x] = (x * 7 + y * 3 + seed) % 128;
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(64, 0);
  ihdr.writeUInt32BE(60, 4);
  ihdr[8] = 8;
  ihdr[9] = 3;
  return Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', ihdr),
    chunk('IDAT', idat ? randomBytes(idat) : deflateSync(rows, { level: 0 })), chunk('IEND', Buffer.alloc(0))]);
}

const dir = mkdtempSync(join(tmpdir(), 'palfill-web-bench-'));
const many = join(dir, 'many');
mkdirSync(many);
for (let i = 0; i < 20000; i++) writeFileSync(join(many, `${String(i).padStart(5, '0')}.png`), image(i % 128));
const large = join(dir, 'large');
mkdirSync(large);
for (let i = 0; i < 512; i++) writeFileSync(join(large, `${String(i).padStart(3, '0')}.png`), image(i, 2 * 1024 * 1024));

const done = (count) => {
  const status = document.getElementById('status').textContent.match(/^(\d+) converted, (\d+) failed\.$/);
  return status && Number(status[1]) + Number(status[2]) === count && performance.now() - window.arrived;
};
const zipped = () => document.querySelectorAll('#zip-links a').length > 0 && performance.now() - window.arrived;
const noteArrival = () => {
  document.addEventListener('change', () => { window.arrived = performance.now(); }, { capture: true, once: true });
};
// Chromium holds a page's zips in its browser process, which may store them on disk; several
// zips wait for a click each, one is clicked at once.
const zipOf = async (page) => { await page.click('#download-all'); return page.waitFor(zipped); };

// The peak resident memory of Chromium's renderers, by /proc (VmHWM).
function rendererPeakKiB(browserPid) {
  let peak = 0;
  const walk = (pid) => {
    let children = [];
    try {
      children = readFileSync(`/proc/${pid}/task/${pid}/children`, 'utf8').trim().split(/\s+/).filter(Boolean);
      const cmdline = readFileSync(`/proc/${pid}/cmdline`, 'utf8');
      if (cmdline.includes('--type=renderer')) {
        peak = Math.max(peak, Number(readFileSync(`/proc/${pid}/status`, 'utf8').match(/VmHWM:\s+(\d+)/)[1]));
      }
    } catch {
      return;
    }
    for (const child of children) walk(child);
  };
  walk(browserPid);
  return peak;
}

const results = [];
for (const engine of engineNames) {
  if (missing(engine)) {
    console.log(`${engine}: ${missing(engine)}`);
    continue;
  }
  const times = [];
  for (let round = 0; round < rounds; round++) {
    const browser = await launch(engine);
    const page = await browser.open(pageUrl);
    await page.evaluate(noteArrival);
    const handed = Date.now();
    await page.setFiles(engine === 'chromium' ? '#png-folder' : '#png-files',
      engine === 'chromium' ? [many] : Array.from({ length: 20000 }, (_, i) => join(many, `${String(i).padStart(5, '0')}.png`)));
    const converted = await page.waitFor(done, 20000);
    const zip = await zipOf(page);
    times.push({ converted, zipped: zip, total: Date.now() - handed, longest: page.longestTask ? await page.longestTask() : null });
    await page.close();
    await browser.close();
  }
  let peak = null;
  if (engine === 'chromium') {
    const browser = await launch(engine);
    const page = await browser.open(pageUrl);
    await page.evaluate(noteArrival);
    await page.setFiles('#png-folder', [large]);
    await page.waitFor(done, 512);
    await zipOf(page);
    peak = rendererPeakKiB(browser.pid());
    await page.close();
    await browser.close();
  }
  results.push([engine, times, peak]);
}
rmSync(dir, { recursive: true });

const median = (values) => values.sort((a, b) => a - b)[Math.floor(values.length / 2)];
const seconds = (ms) => (ms / 1000).toFixed(2);
console.log(`module ${statSync(join(build, 'web', 'palfill.wasm')).size} bytes, ` +
  `page ${statSync(join(build, 'web', 'palfill.html')).size} bytes`);
console.log(`20,000 images of 4 KiB, median of ${rounds} rounds, seconds after the files arrive:`);
for (const [engine, times, peak] of results) {
  const longest = times[0].longest === null ? '' : `, longest task ${Math.round(median(times.map((t) => t.longest)))} ms`;
  console.log(`  ${engine.padEnd(9)} converted ${seconds(median(times.map((t) => t.converted)))}` +
    `  zipped ${seconds(median(times.map((t) => t.zipped)))}` +
    `  (from the driver's handing the files over: ${seconds(median(times.map((t) => t.total)))})${longest}`);
  if (peak !== null) console.log(`  ${engine.padEnd(9)} 1 GiB in 512 images: the renderer's peak memory ${Math.round(peak / 1024)} MiB`);
}
