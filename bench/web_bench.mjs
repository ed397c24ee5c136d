// The page in each browser engine (Chromium, Firefox, WebKit; Debian's,
// driven as web/test/browsers.mjs drives them) against the browser's own
// floor, measured in the same run: blank-reader.html, a page that only reads
// each chosen file's bytes, 32 at a time (and, for the zip, also writes a
// stored zip of them). Two archives: 20,000 palette-less images of 4 KiB in
// 200 folders, and 500 of 2 MiB (1 GiB). Times run from the change event
// that hands the files over. In Chromium also the save into a folder (the
// page served over HTTP, its folder the origin's private one), the longest
// task of the page's thread, and the renderer's peak memory on 1 GiB.
// A benchmark, not a test.
//   cmake -S . -B build -DPALFILL_WEB=ON && cmake --build build --target palfill_web
//   (cd web && npm ci) && PALFILL_WAIT_SECONDS=900 xvfb-run -a node bench/web_bench.mjs [build] [rounds] [engines]
import { mkdirSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { deflateSync } from 'node:zlib';
import { launch, missing } from '../web/test/browsers.mjs';

// WebKitGTK under Xvfb composites a page taller than its window again and
// again with software GL, even while nothing changes on it (here about 65%
// of two CPUs): it would charge the page, whose results scroll, and not the
// blank page, which never does. PALFILL_BENCH_WEBKIT_COMPOSITING=1 keeps it.
if (!process.env.PALFILL_BENCH_WEBKIT_COMPOSITING) process.env.WEBKIT_DISABLE_COMPOSITING_MODE = '1';

const build = resolve(process.argv[2] ?? 'build');
const rounds = Number(process.argv[3] ?? 2);
const engineNames = (process.argv[4] ?? 'chromium,firefox,webkit').split(',');
const pageFile = join(build, 'web', 'palfill.html');
const blankFile = join(dirname(fileURLToPath(import.meta.url)), 'blank-reader.html');

function chunk(type, data) {
  const out = Buffer.alloc(12 + data.length);
  out.writeUInt32BE(data.length, 0);
  out.write(type, 4, 'latin1');
  data.copy(out, 8);
  return out; // its CRC left 0: palfill copies CRCs as they are, and only sizes matter here
}

// 64 x 60, 8-bit indexes, no PLTE, stored deflate: 4,040 bytes; or one
// IDAT of `idat` bytes (not a valid stream).
function image(seed, idat = 0) {
  const rows = Buffer.alloc(60 * 65);
  for (let y = 0; y < 60; y++) for (let x = 0; x < 64; x++) rows[y * 65 + 1 + x] = (x * 7 + y * 3 + seed) % 128;
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(64, 0);
  ihdr.writeUInt32BE(60, 4);
  ihdr[8] = 8;
  ihdr[9] = 3;
  return Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', ihdr),
    chunk('IDAT', idat ? Buffer.alloc(idat, seed) : deflateSync(rows, { level: 0 })), chunk('IEND', Buffer.alloc(0))]);
}

const dir = mkdtempSync(join(tmpdir(), 'palfill-web-bench-'));
const archives = [
  { name: '20,000 images of 4 KiB in 200 folders', count: 20000, folders: 200, idat: 0 },
  { name: '500 images of 2 MiB (1 GiB) in 10 folders', count: 500, folders: 10, idat: 2 * 1024 * 1024 },
].map((archive, n) => {
  const root = join(dir, `archive${n}`);
  const files = [];
  for (let i = 0; i < archive.count; i++) {
    const folder = join(root, `f${String(i % archive.folders).padStart(3, '0')}`);
    mkdirSync(folder, { recursive: true });
    files.push(join(folder, `${String(i).padStart(5, '0')}.png`));
    writeFileSync(files[i], image(i % 128, archive.idat));
  }
  return { ...archive, root, files };
});

// Each waits for its page's end and gives the milliseconds since the files
// arrived (each is run in the page, on its own).
const read = (count) => document.getElementById('status').textContent === `${count} read.` && performance.now() - window.palfillArrived;
const zippedBlank = (count) => document.getElementById('status').textContent === `${count} zipped.` && performance.now() - window.palfillArrived;
const converted = (count) => {
  const status = document.getElementById('status').textContent.match(/^(\d+) converted, (\d+) failed\.$/);
  return status && Number(status[1]) + Number(status[2]) === count && performance.now() - window.palfillArrived;
};
const zipped = () => document.querySelectorAll('#zip-links a').length > 0 && performance.now() - window.palfillArrived;
const saved = () => document.getElementById('save-status').textContent.startsWith('Saved') && performance.now() - window.palfillArrived;
// Outside Chromium, where tests cannot choose a folder, the files are chosen one by one.
const arrivals = () => {
  window.palfillArrived = Infinity;
  document.addEventListener('change', () => { window.palfillArrived = Math.min(window.palfillArrived, performance.now()); }, true);
};
const intoPrivateFolder = async () => {
  const root = await navigator.storage.getDirectory();
  await root.removeEntry('picked', { recursive: true }).catch(() => {});
  const picked = await root.getDirectoryHandle('picked', { create: true });
  window.showDirectoryPicker = async () => picked;
};

// The machine's busy CPU-seconds so far, by /proc/stat: where rounds of
// the same page move by a tenth or more in time, the CPU either page adds
// moves much less, and on a machine the blank page keeps busy it is what
// any page pays for.
function busySeconds() {
  const fields = readFileSync('/proc/stat', 'utf8').split('\n')[0].trim().split(/\s+/).slice(1).map(Number);
  return (fields.reduce((sum, value) => sum + value, 0) - fields[3] - fields[4]) / 100;
}

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

// One page in a browser of its own: the files handed over, then `steps`
// ([name, fn, click]) waited for in turn, each measured since arrival.
async function measure(engine, url, archive, steps, inputs) {
  const browser = await launch(engine);
  const page = await browser.open(url);
  await page.evaluate(arrivals);
  const busyBefore = busySeconds();
  if (engine === 'chromium') await page.setFiles(inputs[0], [archive.root]);
  else await page.setFiles(inputs[1], archive.files);
  const got = {};
  for (const [name, fn, before] of steps) {
    if (before) await before(page);
    got[name] = await page.waitFor(fn, archive.count);
    got[`${name}Cpu`] = busySeconds() - busyBefore;
  }
  if (page.longestTask) {
    got.longest = await page.longestTask();
    // The longest of all, from before the files arrived: on the blank
    // page, the browser's handing over of the files.
    got.handover = await page.evaluate(() => Math.max(0, ...window.palfillTasks.map(([, duration]) => duration)));
  }
  if (engine === 'chromium') got.peakMiB = rendererPeakKiB(browser.pid()) / 1024;
  await page.close();
  await browser.close();
  return got;
}

const server = createServer((request, response) => {
  response.writeHead(200, { 'content-type': 'text/html' });
  response.end(readFileSync(pageFile));
});
await new Promise((done) => server.listen(0, '127.0.0.1', done));
const servedUrl = `http://127.0.0.1:${server.address().port}/palfill.html`;
const blank = ['#folder', '#files'];
const page = ['#png-folder', '#png-files'];

const results = [];
for (const engine of engineNames) {
  if (missing(engine)) {
    console.log(`${engine}: ${missing(engine)}`);
    continue;
  }
  for (const archive of archives) {
    const runs = [];
    for (let round = 0; round < rounds; round++) {
      const blankRead = await measure(engine, pathToFileURL(blankFile).href, archive, [['read', read]], blank);
      const blankZip = await measure(engine, `${pathToFileURL(blankFile).href}?zip`, archive, [['zipped', zippedBlank]], blank);
      const ours = await measure(engine, pathToFileURL(pageFile).href, archive,
        [['converted', converted], ['zipped', zipped, (p) => p.click('#download-all')]], page);
      const folder = engine === 'chromium' ? await measure(engine, servedUrl, archive,
        [['converted', converted], ['saved', saved, async (p) => { await p.evaluate(intoPrivateFolder); await p.click('#save-folder'); }]], page) : null;
      runs.push({ blankRead, blankZip, ours, folder });
    }
    results.push({ engine, archive, runs });
  }
}
server.close();
rmSync(dir, { recursive: true });

const median = (values) => values.sort((a, b) => a - b)[Math.floor(values.length / 2)];
const seconds = (ms) => `${(ms / 1000).toFixed(2)} s`;
const ratio = (a, b) => `${(a / b).toFixed(2)}x`;
console.log(`module ${statSync(join(build, 'web', 'palfill-module.wasm')).size} bytes, ` +
  `page ${statSync(pageFile).size} bytes; medians of ${rounds} rounds, from the files' arrival`);
for (const { engine, archive, runs } of results) {
  const of = (pick) => median(runs.map(pick));
  const floor = of((r) => r.blankRead.read);
  const floorZip = of((r) => r.blankZip.zipped);
  const convertedAt = of((r) => r.ours.converted);
  const zippedAt = of((r) => r.ours.zipped);
  console.log(`${engine}, ${archive.name}:`);
  const cpu = (value) => `${value.toFixed(2)} CPU-s`;
  const floorCpu = of((r) => r.blankRead.readCpu);
  const convertedCpu = of((r) => r.ours.convertedCpu);
  console.log(`  blank page reads all        ${seconds(floor)}, ${cpu(floorCpu)} (the files' handing over included)`);
  console.log(`  page: N converted           ${seconds(convertedAt)}   ${ratio(convertedAt, floor)} the blank page, ` +
    `${cpu(convertedCpu)} (${convertedCpu >= floorCpu ? '+' : ''}${cpu(convertedCpu - floorCpu)})`);
  console.log(`  blank page reads and zips   ${seconds(floorZip)}`);
  console.log(`  page: zip finished          ${seconds(zippedAt)}   ${ratio(zippedAt, floorZip)} the blank page's zip`);
  if (runs[0].folder) {
    const savedAt = of((r) => r.folder.saved);
    console.log(`  page: folder saved          ${seconds(savedAt)}   ${ratio(savedAt, floorZip)} the blank page's zip`);
  }
  if (runs[0].ours.longest !== undefined) {
    const handover = of((r) => r.blankRead.handover);
    const ourLongest = of((r) => r.ours.longest);
    console.log(`  longest task: the blank page's handover of the files ${Math.round(handover)} ms; ` +
      `the page's own after it ${Math.round(ourLongest)} ms (${ratio(ourLongest, Math.max(handover, 1))})`);
    console.log(`  renderer peak: blank ${Math.round(of((r) => r.blankRead.peakMiB))} MiB, ` +
      `page ${Math.round(of((r) => r.ours.peakMiB))} MiB (zip made)`);
  }
}
