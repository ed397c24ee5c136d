// The page in Chromium, Firefox and WebKit (Debian's; none is downloaded),
// loaded from file://. Images go in, chosen and dropped, with a CLUT for
// every image, with CLUTs in their folders, with two in one folder, with
// BML documents, with damaged and unreadable files, with names that would
// climb out of a zip's folder or fall together when unpacked, or that the
// browser cannot give. Every download must equal the command's output,
// every line and plan the page's own module's (palfill-tree's code), the
// zips must hold exactly the outputs, each once, under safe names, and
// unpack the same with unzip, bsdtar, 7z and Python, and nothing may fail or
// leave the page. Chromium also converts thousands of images with no long
// task, and saves into a folder, while a new run never takes another's results.
//   PALFILL_REQUIRE_ALL_ENGINES=1 fails where an engine cannot run;
//   PALFILL_SCREENSHOT=docs/web-page.png saves a picture of it at work.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { copyFileSync, mkdirSync, readdirSync, readFileSync, rmSync, statSync, utimesSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { dirname, join, relative } from 'node:path';
import { pathToFileURL } from 'node:url';
import { launch, missing } from './browsers.mjs';
import { command, damagedCases, examples, pageModule, put, tempDir, top, webDir } from './support.mjs';

const pageFile = join(webDir, 'palfill.html');
const pageUrl = pathToFileURL(pageFile).href;
const sample = readFileSync(join(examples, 'sample.png'));
const sample4 = readFileSync(join(examples, 'sample-4bit.png'));
const fromBase64 = (text) => new Uint8Array(Buffer.from(text, 'base64'));
const lines = await pageModule(); // the page's own module: its lines, its plan
const { byPath, storedNames } = await import(join(top, 'web', 'names.js'));
// A page whose zips are small, to see an archive past one download.
const zipLimit = 24 * 1024;
spawnSync(process.execPath, [join(top, 'web', 'build.mjs'), join(webDir, 'palfill-module.wasm'),
  join(webDir, 'palfill-page.wasm'), '0', webDir, '--zip-limit', String(zipLimit)], { stdio: 'inherit' });
const smallZipsUrl = pathToFileURL(join(webDir, `palfill-zips-of-${zipLimit}.html`)).href;

// In the page: a blob as base64, to bring it out through any driver. Set up
// once on each page (the page's own policy allows no eval).
function defineBase64() {
  window.palfillBase64 = async (blob) => {
    const bytes = new Uint8Array(await blob.arrayBuffer());
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(text);
  };
}

// Everything a person sees of each result, and what each link hands over.
function cards() {
  return Promise.all([...document.querySelectorAll('#results li:not(#more)')].map(async (item) => {
    const link = item.querySelector('a');
    if (link) link.dispatchEvent(new Event('focus')); // as a keyboard reaches it
    const text = (selector) => item.querySelector(selector)?.textContent ?? null;
    return { path: text('.name'), line: text('.line'), note: text('.note'), clut: item.dataset.clut,
      why: item.dataset.why, left: item.dataset.left, name: link && link.download,
      bytes: link && await window.palfillBase64(link.blob) };
  }));
}

// The zips the page offers, in order.
function zips() {
  return Promise.all([...document.querySelectorAll('#zip-links a')].map(async (link) => ({
    name: link.download, bytes: await window.palfillBase64(link.blob) })));
}

// The status once `count` renderings are done, with `colours` shown, and
// their cards drawn.
const settled = (count, colours) => {
  if (document.getElementById('results').getAttribute('aria-busy') !== 'false') return false;
  const status = document.getElementById('status').textContent;
  const shown = document.getElementById('clut-status').textContent;
  const done = status.match(/(\d+) converted, (\d+) failed\.$/);
  return done && document.querySelectorAll('#results li:not(#more)').length >= Math.min(count, 200) &&
    shown.includes(colours) && status;
};

// What the page must show for the files it was handed, by the page's own
// module: the plan palfill-tree makes of them, each rendering's line, and
// the command's own bytes for each output (`palfill DISK [CLUT] out/...`
// run from `dir`). `handed` are [{ path, disk }]: the path the page names a
// file by, and where it lies under `dir`; `given` the CLUT for every image.
function expected(dir, handed, given = null) {
  const tops = new Set(handed.map((h) => (h.path.includes('/') ? h.path.split('/')[0] : '')));
  const inDir = tops.size === 1 && !tops.has('') ? [...tops][0] : '.';
  const rel = (path) => (inDir === '.' ? path : path.slice(inDir.length + 1));
  const diskOf = new Map(handed.map((h) => [rel(h.path), h.disk]));
  const { rows, notices } = lines.planTree(lines.holder, inDir, given ?? '', handed.map((h) => ({
    path: rel(h.path), bytes: /\.(bml|css)$/i.test(h.path) ? readFileSync(join(dir, h.disk)) : null })));
  const stored = storedNames(rows.map((row) => row.output));
  const wants = rows.map((row, i) => {
    const want = { path: `${inDir}/${row.output}`, clut: row.clut, why: row.why, stored: stored[i], output: row.output };
    if (row.clut === '!') return { ...want, line: row.why, left: 'none', bytes: null, ok: false };
    const byGiven = given !== null && row.why === '--clut';
    const clutDisk = row.clut === '-' ? null : byGiven ? given : diskOf.get(row.clut);
    const clutName = row.clut === '-' ? '' : byGiven ? given : `${inDir}/${row.clut}`;
    const read = (disk) => (disk ? new Uint8Array(readFileSync(join(dir, disk))) : null);
    const converted = lines.convertForPage(lines.holder, read(diskOf.get(row.input)), read(clutDisk));
    rmSync(join(dir, 'out'), { recursive: true, force: true });
    mkdirSync(join(dir, 'out'));
    const ran = command(dir, diskOf.get(row.input), clutDisk, 'out/output.png');
    return { ...want, bytes: ran.bytes, ok: converted.result === 0,
      line: lines.resultLine(lines.holder, converted.result, `${inDir}/${row.input}`, clutName, `out/${row.output}`),
      left: lines.leftBy(lines.holder, converted.result, converted.bytes.length) };
  });
  return { inDir, wants, notices };
}

// Holds the page to what `expected()` gives, then its zips too: one, or
// several that a page of small zips cuts the archive into.
async function check(page, { inDir, wants, notices }, what, { zipPage } = {}) {
  await page.evaluate(defineBase64);
  const got = await page.evaluate(cards);
  assert.deepEqual(got.map((c) => c.path), wants.map((w) => w.path), what);
  const failures = notices.map((n) => ({ who: n.who, line: n.line }));
  const entries = new Map();
  for (const [i, want] of wants.entries()) {
    const card = got[i];
    const where = `${what}: ${want.path}`;
    assert.deepEqual([card.line, card.clut, card.why, card.left], [want.line, want.clut, want.why, want.left], where);
    const renamed = want.stored !== `out/${want.output}` && want.bytes !== null;
    assert.equal(card.note, renamed ? `(stored as ${want.stored})` : null, where);
    if (!want.ok) failures.push({ who: want.path, line: want.line, note: renamed ? ` (stored as ${want.stored})` : '' });
    if (want.bytes === null || want.bytes.length === 0) {
      assert.equal(card.bytes, null, `${where}: a download where nothing is to be had`);
    } else {
      assert.equal(card.name, want.stored.split('/').pop(), where);
      assert.deepEqual(fromBase64(card.bytes), want.bytes, where);
    }
    if (want.bytes !== null) entries.set(want.stored, want.bytes);
  }
  failures.sort((a, b) => byPath(a.who, b.who));
  assert.equal(await page.evaluate(() => document.getElementById('failed-list').textContent),
    failures.map((f) => `${f.who}: ${f.line}\n`).join(''), what);
  const converted = wants.filter((w) => w.ok).length;
  entries.set('failed.txt', new TextEncoder().encode(
    failures.map((f) => `${lines.withoutControls(lines.holder, `${f.who}: ${f.line}`)}${f.note ?? ''}\n`).join('') +
    `${lines.summaryLine(lines.holder, inDir, 'out', converted, failures.length)}\n`));
  let offered;
  if (page.download && !zipPage) {
    const download = await page.download('#download-all');
    assert.equal(download.name, 'palfill-out.zip');
    offered = await page.evaluate(zips);
    assert.deepEqual(fromBase64(offered[0].bytes), download.bytes, `${what}: the zip handed over`);
  } else {
    await page.evaluate(() => { document.getElementById('zip-links').replaceChildren(); });
    await page.click('#download-all');
    await page.waitFor(() => document.querySelectorAll('#zip-links a').length > 0);
    offered = await page.evaluate(zips);
  }
  if (zipPage) {
    assert.ok(offered.length > 1, `${what}: ${offered.length} zips past one download`);
    offered.forEach(({ name, bytes }, i) => {
      assert.equal(name, `palfill-out-${i + 1}-of-${offered.length}.zip`);
      assert.ok(fromBase64(bytes).length <= zipPage.limit, `${what}: ${name} is past the limit`);
    });
  }
  checkZips(offered.map((z) => fromBase64(z.bytes)), entries, what);
}

// The zips as every unzip reads them, unpacked into one folder: the same
// tree, the same bytes, each entry once, the names intact; each entry made
// by Unix, mode 0644, dated today.
function checkZips(zipped, entries, what) {
  const dir = tempDir();
  const files = zipped.map((bytes, i) => {
    put(dir, `part-${i}.zip`, bytes);
    return join(dir, `part-${i}.zip`);
  });
  const env = { ...process.env, LANG: 'C.UTF-8', LC_ALL: 'C.UTF-8' };
  const tools = {
    unzip: (file, to) => ['unzip', ['-q', file, '-d', to]],
    bsdtar: (file, to) => ['bsdtar', ['-xf', file, '-C', to]],
    '7z': (file, to) => ['7z', ['x', '-bd', '-y', `-o${to}`, file]],
    python: (file, to) => ['python3', ['-m', 'zipfile', '-e', file, to]],
  };
  for (const [tool, args] of Object.entries(tools)) {
    const to = join(dir, tool);
    mkdirSync(to);
    for (const file of files) {
      const [program, argv] = args(file, to);
      const run = spawnSync(program, argv, { env, encoding: 'utf8' });
      assert.equal(run.status, 0, `${what}: ${tool}: ${run.stderr}`);
    }
    const found = new Map();
    const walk = (at) => {
      for (const name of readdirSync(at)) {
        const path = join(at, name);
        if (statSync(path).isDirectory()) walk(path);
        else found.set(relative(to, path).normalize('NFC'), new Uint8Array(readFileSync(path)));
      }
    };
    walk(to);
    const want = new Map([...entries].map(([name, bytes]) => [name.normalize('NFC'), bytes]));
    assert.deepEqual([...found.keys()].sort(), [...want.keys()].sort(), `${what}: ${tool}`);
    for (const [name, bytes] of want) assert.deepEqual(found.get(name), bytes, `${what}: ${tool}: ${name}`);
  }
  const info = spawnSync('python3', ['-c', `
import sys, time, zipfile
names = []
for path in sys.argv[1:]:
    for i in zipfile.ZipFile(path).infolist():
        names.append(i.filename)
        age = time.time() - time.mktime(i.date_time + (0, 0, -1))
        print(i.create_system, oct(i.external_attr >> 16), int(-120 < age < 600), i.flag_bits & 0x800)
print(len(names), len(set(names)))`, ...files], { encoding: 'utf8' });
  const lines = info.stdout.trim().split('\n');
  for (const line of lines.slice(0, -1)) assert.equal(line, '3 0o100644 1 2048', `${what}: an entry's header`);
  assert.equal(lines.at(-1), `${entries.size} ${entries.size}`, `${what}: every entry once, in all the zips`);
  rmSync(dir, { recursive: true });
}

// Images chosen as files, which every engine can hand over: names that
// would climb out of a folder, or clash in the zip by letter case or by
// Unicode normalisation.
function flatImages(dir) {
  const images = [
    { path: 'sample.png', bytes: sample },
    { path: '番組 画像 ①.png', bytes: sample },
    { path: '..\\..\\..\\..\\evil.png', bytes: sample4 },
    { path: 'a\\b.png', bytes: sample },
    { path: 'a_b.png', bytes: sample4 },
    { path: 'が.png'.normalize('NFD'), bytes: sample4 },
    { path: 'が.png'.normalize('NFC'), bytes: sample },
    { path: 'CASE.PNG', bytes: sample },
    { path: 'case.png', bytes: sample4 },
    { path: 'ß.png', bytes: sample },
    { path: 'ss.png', bytes: sample4 },
    ...damagedCases().filter((_, i) => i % 3 === 0).map(([path, bytes]) => ({ path, bytes })),
  ];
  for (const image of images) {
    image.disk = image.path;
    put(dir, image.path, image.bytes);
  }
  return images;
}

async function flatRounds(engine, page, dir) {
  const images = flatImages(dir);
  for (const clut of ['rgb.clt', 'ycbcr.clt']) copyFileSync(join(examples, clut), join(dir, clut));
  put(dir, 'bad.clt', Buffer.from([0x60]));
  const files = (names) => names.map((name) => join(dir, name));
  const handed = images.map(({ path, disk }) => ({ path, disk }));
  const clutFile = (name) => ({ path: name, disk: name });
  const round = async (what, given, colours, more = []) => {
    const want = expected(dir, [...handed, ...more], given);
    await page.waitFor(settled, want.wants.length, colours);
    await check(page, want, `${engine}, ${what}`);
  };

  await page.setFiles('#png-files', files(images.map((i) => i.disk)));
  await round('the default colours', null, 'BML documents');
  await page.setFiles('#clut-file', files(['rgb.clt']));
  await round('a CLUT for every image', 'rgb.clt', 'rgb.clt, for every image');
  // A CLUT that cannot be used says so at once.
  await page.setFiles('#clut-file', files(['bad.clt']));
  await round('an unusable CLUT', 'bad.clt', 'bad.clt cannot be used: Error : Unknown depth (3) (bad.clt)');
  // Two CLUTs in the folder the files lie in: no guess.
  await page.click('#clear-clut');
  await page.setFiles('#png-files', files(['rgb.clt', 'ycbcr.clt']));
  await round('two CLUTs in their folder', null, 'BML documents', [clutFile('rgb.clt'), clutFile('ycbcr.clt')]);

  // An image changed on disk since it was chosen: never a stale success.
  put(dir, 'stale.png', sample);
  await page.setFiles('#png-files', files(['stale.png']));
  await page.waitFor(settled, handed.length + 1, 'BML documents');
  put(dir, 'stale.png', sample4);
  utimesSync(join(dir, 'stale.png'), new Date(), new Date(Date.now() + 5000));
  await page.setFiles('#clut-file', files(['rgb.clt']));
  await page.waitFor(settled, handed.length + 1, 'rgb.clt, for every image');
  const stale = (await page.evaluate(cards)).find((c) => c.path === './stale.png');
  const fresh = command(dir, 'stale.png', 'rgb.clt', 'fresh.png');
  if (stale.line === "Error : Can't open file ./stale.png") {
    assert.equal(stale.left, 'none', `${engine}: stale`);
  } else {
    assert.deepEqual(fromBase64(stale.bytes), fresh.bytes, `${engine}: stale`);
  }

  // The zoom reaches every preview, those drawn later too.
  await page.evaluate(() => {
    const zoom = document.getElementById('zoom');
    zoom.value = '8';
    zoom.dispatchEvent(new Event('change'));
    window.scrollTo(0, document.body.scrollHeight);
  });
  await page.waitFor(() => {
    const shown = [...document.querySelectorAll('.preview img')].filter((img) => img.complete && img.naturalWidth);
    return shown.length > 0 && shown.every((img) => img.width === img.naturalWidth * 8);
  });

  // A CLUT changed on disk since it was chosen: its images say it cannot
  // be opened, or convert with what it holds now.
  put(dir, 'rgb.clt', readFileSync(join(examples, 'ycbcr.clt')));
  utimesSync(join(dir, 'rgb.clt'), new Date(), new Date(Date.now() + 5000));
  put(dir, 'late.png', sample);
  await page.setFiles('#png-files', files(['late.png']));
  await page.waitFor(settled, handed.length + 2, 'rgb.clt');
  const late = (await page.evaluate(cards)).find((c) => c.path === './late.png');
  if (late.line === "Error : Can't open file rgb.clt") {
    assert.equal(late.left, 'none', `${engine}: a CLUT changed on disk`);
  } else {
    assert.deepEqual(fromBase64(late.bytes), command(dir, 'late.png', 'rgb.clt', 'late-out.png').bytes,
      `${engine}: a CLUT changed on disk`);
  }
}

// Past one download: a page whose zips are small, which together hold
// everything once.
async function zipRound(engine, page, dir) {
  const images = flatImages(dir);
  copyFileSync(join(examples, 'ycbcr.clt'), join(dir, 'ycbcr.clt'));
  await page.setFiles('#png-files', [...images.map((i) => join(dir, i.disk)), join(dir, 'ycbcr.clt')]);
  const want = expected(dir, [...images, { path: 'ycbcr.clt', disk: 'ycbcr.clt' }]);
  await page.waitFor(settled, want.wants.length, 'BML documents');
  await check(page, want, `${engine}, zipped past one download`, { zipPage: { limit: zipLimit } });
}

// A tree with a CLUT in some folders, two in one, an unusable one, BML
// documents that give their images other colours, a name that climbs, and
// a file and a folder of one name. The page names each file by its path in
// the folder handed over.
function treeFiles(dir, how) {
  const bml = (style, ...images) => Buffer.from(`<bml><body style="${style}">${images.map((image) =>
    `<object type="image/X-arib-png" data="${image}"/>`).join('')}</body></bml>`);
  const tree = {
    'in/a/x.png': sample, 'in/b/x.png': sample4, 'in/番組/画像 ①.png': sample,
    'in/ch01/palette.clt': readFileSync(join(examples, 'rgb.clt')), 'in/ch01/p1.png': sample4,
    'in/ch02/palette.clt': readFileSync(join(examples, 'ycbcr.clt')), 'in/ch02/p2.png': sample,
    'in/ch02/sub/p3.png': sample4,
    'in/ch03/a.clt': Buffer.from([0x60]), 'in/ch03/b.clt': readFileSync(join(examples, 'rgb.clt')),
    'in/ch03/p4.png': sample, 'in/ch03/deep/p5.png': sample,
    'in/ch03/one.bml': bml('clut: url(b.clt)', 'p4.png', '/ch02/p2.png'),
    'in/ch03/two.bml': bml('clut: url(a.clt)', 'p4.png'),
    'in/ch04/bad.clt': Buffer.from([0x60]), 'in/ch04/p6.png': sample4,
    'in/evil/..\\..\\evil.png': sample4, 'in/notes.txt': 'not an image',
    'in/same.png': sample, 'in/same.PNG/inside.png': sample4,
  };
  for (const [path, bytes] of Object.entries(tree)) put(dir, path, bytes);
  // Chromium's folder choice turns the backslashes of a name into slashes;
  // a dropped folder's handles leave such a name out, without a word, as
  // no Windows file system holds it either: the page cannot see it.
  return Object.keys(tree).filter((path) => how === 'chosen' || !path.includes('\\'))
    .map((path) => ({ path: how === 'chosen' ? path.replaceAll('\\', '/') : path, disk: path }));
}

// A folder chosen, or dropped: Chromium alone hands a folder to a test.
async function folderRounds(page, dir, how) {
  const files = treeFiles(dir, how);
  if (how === 'chosen') await page.setFiles('#png-folder', [join(dir, 'in')]);
  else await page.drop('#drop', [join(dir, 'in')]);
  let want = expected(dir, files);
  await page.waitFor(settled, want.wants.length, 'BML documents');
  await check(page, want, `chromium, a folder of CLUTs and documents, ${how}`);
  if (how !== 'chosen') return;
  if (process.env.PALFILL_SCREENSHOT) await page.screenshot(process.env.PALFILL_SCREENSHOT);
  copyFileSync(join(examples, 'rgb.clt'), join(dir, 'rgb.clt'));
  await page.setFiles('#clut-file', [join(dir, 'rgb.clt')]);
  want = expected(dir, files, 'rgb.clt');
  await page.waitFor(settled, want.wants.length, 'rgb.clt, for every image');
  await check(page, want, 'chromium, a folder with a CLUT for every image');
}


// Files dropped, in every engine as far as its driver lets a test drop.
async function dropRound(engine, page, dir) {
  const images = flatImages(dir).filter((image) => !image.path.includes('\\'));
  await page.drop('#drop', images.map((image) => join(dir, image.disk)));
  const want = expected(dir, images);
  await page.waitFor(settled, want.wants.length, 'BML documents');
  await check(page, want, `${engine}, files dropped`);
}

// Thousands of images with the page's thread never busy for long, then
// saved into a folder the user picked (one in the origin's own storage:
// no test can pick one), over an earlier output and someone's data; and a
// new run chosen while the save goes on, which takes none of its results.
async function scaleRounds(page, dir) {
  const count = 3000;
  const variants = [sample, sample4, sample.subarray(0, 3000), Buffer.from('not a png')];
  for (let i = 0; i < count; i++) put(dir, `many/${String(i).padStart(4, '0')}.png`, variants[i % variants.length]);
  const wants = variants.map((bytes, i) => {
    put(dir, `one-${i}.png`, bytes);
    return command(dir, `one-${i}.png`, null, `out-${i}.png`);
  });
  await page.setFiles('#png-folder', [join(dir, 'many')]);
  await page.waitFor(settled, count, 'BML documents');
  const failed = wants.filter((w) => w.status !== 0).length * (count / variants.length);
  assert.match(await page.evaluate(() => document.getElementById('status').textContent),
    new RegExp(`^${count - failed} converted, ${failed} failed\\.$`));
  assert.ok((await page.evaluate(() => document.querySelectorAll('#results li:not(#more)').length)) < count,
    'the cards drawn as the list scrolls');
  // Each output at its name, as the command left it (`found`: name ->
  // bytes), from the zip and from the folder alike: outputs packed
  // together must come out each whole.
  const holdsOutputs = (found, from, first = 0) => {
    for (let i = first; i < count; i++) {
      const name = `out/${String(i).padStart(4, '0')}.png`;
      const want = wants[i % variants.length].bytes;
      if (want === null) assert.equal(found(name), undefined, `${from}: ${name}`);
      else assert.deepEqual(found(name), new Uint8Array(want), `${from}: ${name}`);
    }
  };
  await page.click('#download-all');
  await page.waitFor(() => document.querySelectorAll('#zip-links a').length > 0);
  const longest = await page.longestTask();
  assert.ok(longest <= 250, `the page's thread was busy for ${longest} ms at a stretch`);
  await page.evaluate(defineBase64);
  const [zip] = await page.evaluate(zips);
  const unzipped = tempDir();
  put(unzipped, 'all.zip', fromBase64(zip.bytes));
  assert.equal(spawnSync('unzip', ['-q', 'all.zip'], { cwd: unzipped }).status, 0);
  holdsOutputs((name) => {
    try {
      return new Uint8Array(readFileSync(join(unzipped, name)));
    } catch {
      return undefined;
    }
  }, 'the zip');
  rmSync(unzipped, { recursive: true });

  await page.evaluate(async () => {
    const picked = await (await navigator.storage.getDirectory()).getDirectoryHandle('picked', { create: true });
    const out = await picked.getDirectoryHandle('out', { create: true });
    const write = async (name, text) => {
      const writable = await (await out.getFileHandle(name, { create: true })).createWritable();
      await writable.write(text);
      await writable.close();
    };
    await write('0000.png', 'my notes, not an image');
    await write('0001.png', 'Finished an earlier run'); // palfill's own line: replaced
    window.showDirectoryPicker = async () => picked;
  });
  await page.click('#save-folder');
  await page.waitFor(() => document.getElementById('save-status').textContent.startsWith('Saved'));
  await page.evaluate(defineBase64);
  const saved = await page.evaluate(async () => {
    const base64 = window.palfillBase64;
    const picked = await (await navigator.storage.getDirectory()).getDirectoryHandle('picked');
    const found = {};
    const walk = async (folder, path) => {
      for await (const [name, handle] of folder.entries()) {
        if (handle.kind === 'directory') await walk(handle, `${path}${name}/`);
        else found[`${path}${name}`] = await base64(await handle.getFile());
      }
    };
    await walk(picked, '');
    const card = [...document.querySelectorAll('#results li')].find((li) => li.output.who === 'many/0000.png');
    return { found, line: card.querySelector('.line').textContent };
  });
  assert.equal(saved.line, 'Error : Output is not a PNG file out/0000.png');
  assert.equal(Buffer.from(saved.found['out/0000.png'], 'base64').toString(), 'my notes, not an image');
  holdsOutputs((name) => (name in saved.found ? fromBase64(saved.found[name]) : undefined), 'the folder', 1);
  const report = Buffer.from(saved.found['failed.txt'], 'base64').toString();
  assert.match(report, /^many\/0000\.png: Error : Output is not a PNG file out\/0000\.png\n/);
  assert.match(report, new RegExp(`\\nFinished many -> out: ${count - failed - 1} converted, ${failed + 1} failed\\n$`));

  // A folder chosen while a save goes on joins the files handed before:
  // the new run's cards and counts are its own, whatever the save's answer
  // brings, and the image the save refused converts again.
  put(dir, 'fresh/only.png', sample);
  await page.evaluate(async () => {
    const picked = await (await navigator.storage.getDirectory()).getDirectoryHandle('again', { create: true });
    window.showDirectoryPicker = async () => picked;
  });
  await page.click('#save-folder');
  await page.setFiles('#png-folder', [join(dir, 'fresh')]);
  // The new run's end, which the old run's status must not pass for.
  const status = `${count - failed + 1} converted, ${failed} failed.`;
  await page.waitFor((want) => document.getElementById('results').getAttribute('aria-busy') === 'false' &&
    document.getElementById('status').textContent === want, status);
  await new Promise((resolve) => setTimeout(resolve, 2000)); // the save's answer, if it comes
  assert.equal(await page.evaluate(() => document.getElementById('status').textContent), status);
  assert.deepEqual(await page.evaluate(() => [...document.querySelectorAll('#results li')].slice(0, 2)
    .map((li) => [li.querySelector('.name').textContent, li.querySelector('.line').textContent])),
  [['./fresh/only.png', 'Finished ./fresh/only.png -> out/fresh/only.png'],
    ['./many/0000.png', 'Finished ./many/0000.png -> out/many/0000.png']]);
}

// The page from a local server: storage of its own, which a page opened
// from file:// is refused. Its Content-Security-Policy holds there too.
function serve() {
  const server = createServer((request, response) => {
    response.writeHead(200, { 'content-type': 'text/html' });
    response.end(readFileSync(pageFile));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

for (const engine of ['chromium', 'firefox', 'webkit']) {
  const why = missing(engine);
  test(`the page in ${engine} converts as the command does, zips it all safely and sends nothing`,
    { skip: why && process.env.PALFILL_REQUIRE_ALL_ENGINES !== '1' ? why : false, timeout: 600000 }, async () => {
      assert.equal(why, '', `${engine} cannot run`);
      const browser = await launch(engine);
      const dir = tempDir();
      try {
        const page = await browser.open(pageUrl);
        // Folder choice as the engine has it, and without it as the page says.
        const folders = await page.evaluate(() => [!document.getElementById('folder-choice').hidden,
          'webkitdirectory' in HTMLInputElement.prototype]);
        assert.equal(folders[0], folders[1], `${engine}: folder choice shown as the engine has it`);
        await flatRounds(engine, page, join(dir, 'flat'));
        assert.deepEqual(await page.problems(), { errors: [], violations: [], requests: [] }, engine);
        await page.close();
        const dropPage = await browser.open(pageUrl);
        await dropRound(engine, dropPage, join(dir, 'drop'));
        assert.deepEqual(await dropPage.problems(), { errors: [], violations: [], requests: [] }, engine);
        await dropPage.close();
        const zipPage = await browser.open(smallZipsUrl);
        await zipRound(engine, zipPage, join(dir, 'zips'));
        assert.deepEqual(await zipPage.problems(), { errors: [], violations: [], requests: [] }, engine);
        await zipPage.close();
        if (engine === 'chromium') {
          for (const how of ['chosen', 'dropped']) {
            const folderPage = await browser.open(pageUrl);
            await folderRounds(folderPage, join(dir, `tree-${how}`), how);
            assert.deepEqual(await folderPage.problems(), { errors: [], violations: [], requests: [] }, engine);
            await folderPage.close();
          }
          const server = await serve();
          try {
            const served = await browser.open(`http://127.0.0.1:${server.address().port}/palfill.html`);
            await scaleRounds(served, join(dir, 'scale'));
            assert.deepEqual(await served.problems(), { errors: [], violations: [], requests: [] }, engine);
            await served.close();
          } finally {
            server.close();
          }
        }
        if (engine !== 'webkit') {
          const bare = await browser.open(pageUrl, { withoutFolders: true });
          const note = await bare.evaluate(() => [document.getElementById('folder-choice').hidden,
            document.getElementById('folder-note').textContent]);
          assert.deepEqual(note, [true, 'This browser cannot choose folders: choose the PNG files and ' +
            'their CLUT file instead, or drop the folder here.'], engine);
          await bare.close();
        }
      } finally {
        await browser.close();
        rmSync(dir, { recursive: true, force: true });
      }
    });
}
