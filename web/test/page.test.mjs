// The page in Chromium, Firefox and WebKit (Debian's; none is downloaded),
// loaded from file://. Images go in, chosen and dropped, with a CLUT for
// every image, with CLUTs in their folders, with two in one folder, with
// damaged and unreadable files, with names that would climb out of a zip's
// folder or fall together when unpacked. Every line and every download must
// equal the command's, the zips must hold exactly the outputs, each once,
// under safe names, and unpack the same with unzip, bsdtar, 7z and Python,
// and nothing may fail or leave the page. Chromium also converts thousands
// of images with no long task, and saves into a folder.
//   PALFILL_REQUIRE_ALL_ENGINES=1 fails where an engine cannot run;
//   PALFILL_SCREENSHOT=docs/web-page.png saves a picture of it at work.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { copyFileSync, mkdirSync, readdirSync, readFileSync, rmSync, statSync, utimesSync } from 'node:fs';
import { createServer } from 'node:http';
import { dirname, join, relative } from 'node:path';
import { pathToFileURL } from 'node:url';
import { launch, missing } from './browsers.mjs';
import { command, damagedCases, examples, put, tempDir, webDir } from './support.mjs';

const pageFile = join(webDir, 'palfill.html');
const pageUrl = pathToFileURL(pageFile).href;
const sample = readFileSync(join(examples, 'sample.png'));
const sample4 = readFileSync(join(examples, 'sample-4bit.png'));
const fromBase64 = (text) => new Uint8Array(Buffer.from(text, 'base64'));

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
    return { path: text('.name'), line: text('.line'), note: text('.note'), colours: text('.colours'),
      left: text('.left'), name: link && link.download, bytes: link && await window.palfillBase64(link.blob) };
  }));
}

// The zips the page offers, in order.
function zips() {
  return Promise.all([...document.querySelectorAll('#zip-links a')].map(async (link) => ({
    name: link.download, bytes: await window.palfillBase64(link.blob) })));
}

// The status once `count` images are done, with `colours` shown, and
// their cards drawn.
const settled = (count, colours) => {
  if (document.getElementById('results').getAttribute('aria-busy') !== 'false') return false;
  const status = document.getElementById('status').textContent;
  const shown = document.getElementById('clut-status').textContent;
  const done = status.match(/(\d+) converted, (\d+) failed\.$/);
  return done && Number(done[1]) + Number(done[2]) === count && shown.includes(colours) && status;
};

// What the command leaves, in the words a card uses.
function leftWords(bytes, ok) {
  if (bytes === null) return 'No output: this failure comes before the output is created.';
  if (bytes.length === 0) return 'The output exists and is empty.';
  return ok ? null : `The output holds everything copied before the damage (${bytes.length} bytes).`;
}

// What the page must show for one image: the command's line and output
// (run from `dir` as `palfill DISK [CLUT] out/REL`), or the page's own
// line where it converts nothing (an ambiguous folder).
function expected(dir, image, clut, pageLine) {
  const diskRel = image.disk.slice(image.disk.length - image.rel.length);
  rmSync(join(dir, 'out'), { recursive: true, force: true });
  mkdirSync(join(dir, 'out', dirname(diskRel)), { recursive: true });
  const want = pageLine ? { line: pageLine, bytes: null, status: 1 } : command(dir, image.disk, clut, `out/${diskRel}`);
  const stored = image.stored ?? `out/${image.rel}`;
  const note = want.bytes !== null && stored !== `out/${image.rel}` ? `(stored as ${stored})` : '';
  return { ...image, line: want.line.replaceAll(image.disk, image.path).replaceAll(diskRel, image.rel),
    bytes: want.bytes, ok: want.status === 0,
    colours: `Colours: ${clut ?? (pageLine ? pageLine.replace('Error : M', 'm') : 'the default colours')}`,
    left: leftWords(want.bytes, want.status === 0), stored, note,
    failedNote: [clut && `(colours: ${clut})`, note].filter(Boolean).join(' ') };
}

// Holds the page to what the command does for `wants`, then its zips too:
// one, or several that `limit` cuts the archive into.
async function check(page, wants, what, { inDir = '.', limit } = {}) {
  await page.evaluate(defineBase64);
  const got = await page.evaluate(cards);
  assert.deepEqual(got.map((c) => c.path), wants.map((w) => w.path), what);
  const failed = [];
  const entries = new Map();
  for (const [i, want] of wants.entries()) {
    const card = got[i];
    const where = `${what}: ${want.path}`;
    assert.equal(card.line, want.line, where);
    assert.equal(card.note, want.note || null, where);
    assert.equal(card.colours, want.colours, where);
    assert.equal(card.left, want.left, where);
    if (!want.ok) failed.push(`${want.path}: ${want.line}${want.failedNote ? ` ${want.failedNote}` : ''}\n`);
    if (want.bytes === null || want.bytes.length === 0) {
      assert.equal(card.bytes, null, `${where}: a download where nothing is to be had`);
    } else {
      assert.equal(card.name, want.stored.split('/').pop(), where);
      assert.deepEqual(fromBase64(card.bytes), want.bytes, where);
    }
    if (want.bytes !== null) entries.set(want.stored, want.bytes);
  }
  assert.equal(await page.evaluate(() => document.getElementById('failed-list').textContent), failed.join(''), what);
  const converted = wants.length - failed.length;
  entries.set('failed.txt', new TextEncoder().encode(
    `${failed.join('')}Finished ${inDir} -> out: ${converted} converted, ${failed.length} failed\n`));
  await page.evaluate((zipLimit) => { window.palfillZipLimit = zipLimit ?? undefined; }, limit ?? null);
  let offered;
  if (page.download && limit === undefined) {
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
  if (limit !== undefined) {
    assert.ok(offered.length > 1, `${what}: ${offered.length} zips past one download`);
    offered.forEach(({ name, bytes }, i) => {
      assert.equal(name, `palfill-out-${i + 1}-of-${offered.length}.zip`);
      assert.ok(fromBase64(bytes).length <= limit, `${what}: ${name} is past the limit`);
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
    { path: '..\\..\\..\\..\\evil.png', bytes: sample4, stored: 'out/.._.._.._.._evil.png' },
    { path: 'a\\b.png', bytes: sample, stored: 'out/a_b.png' },
    { path: 'a_b.png', bytes: sample4, stored: 'out/a_b (2).png' },
    { path: 'が.png'.normalize('NFD'), bytes: sample4 }, // first: か and its mark come before が
    { path: 'が.png'.normalize('NFC'), bytes: sample, stored: 'out/が (2).png' },
    { path: 'CASE.PNG', bytes: sample },
    { path: 'case.png', bytes: sample4, stored: 'out/case (2).png' },
    ...damagedCases().filter((_, i) => i % 3 === 0).map(([path, bytes]) => ({ path, bytes })),
  ];
  for (const image of images) {
    image.disk = image.path;
    image.rel = image.path;
    put(dir, image.path, image.bytes);
  }
  return images.sort((a, b) => (a.path < b.path ? -1 : 1));
}

async function flatRounds(engine, page, dir) {
  const images = flatImages(dir);
  for (const clut of ['rgb.clt', 'ycbcr.clt']) copyFileSync(join(examples, clut), join(dir, clut));
  put(dir, 'bad.clt', Buffer.from([0x60]));
  const files = (names) => names.map((name) => join(dir, name));
  const n = images.length;
  const round = async (what, clut, pageLine, options) =>
    check(page, images.map((image) => expected(dir, image, clut, pageLine)), `${engine}, ${what}`, options);

  await page.setFiles('#png-files', files(images.map((i) => i.path)));
  await page.waitFor(settled, n, 'default colours');
  await round('the default colours', null);

  await page.setFiles('#clut-file', files(['rgb.clt']));
  await page.waitFor(settled, n, 'rgb.clt, for every image');
  // Past one download: zips of a few images each, which together hold them all once.
  await round('a CLUT for every image, zipped past one download', 'rgb.clt', undefined, { limit: 24 * 1024 });

  // A CLUT that cannot be used says so at once.
  await page.setFiles('#clut-file', files(['bad.clt']));
  await page.waitFor(settled, n, 'bad.clt cannot be used: Error : Unknown depth (3)');
  await round('an unusable CLUT', 'bad.clt');

  // Two CLUTs in one choice: no guess. A later choice of one replaces them.
  await page.click('#clear-clut');
  await page.setFiles('#png-files', files(['rgb.clt', 'ycbcr.clt']));
  await page.waitFor(settled, n, 'More than one CLUT file in . (rgb.clt, ycbcr.clt)');
  await round('two CLUTs in one choice', null, 'Error : More than one CLUT file in .');
  await page.setFiles('#png-files', files(['ycbcr.clt']));
  await page.waitFor(settled, n, 'ycbcr.clt for .');
  await round('the CLUT of their folder', 'ycbcr.clt');

  // An image changed on disk since it was chosen: never a stale success.
  put(dir, 'stale.png', sample);
  await page.setFiles('#png-files', files(['stale.png']));
  await page.waitFor(settled, n + 1, 'ycbcr.clt for .');
  put(dir, 'stale.png', sample4);
  utimesSync(join(dir, 'stale.png'), new Date(), new Date(Date.now() + 5000));
  await page.setFiles('#clut-file', files(['rgb.clt']));
  await page.waitFor(settled, n + 1, 'rgb.clt, for every image');
  const stale = (await page.evaluate(cards)).find((c) => c.path === 'stale.png');
  const fresh = command(dir, 'stale.png', 'rgb.clt', 'fresh.png');
  if (stale.line === "Error : Can't open file stale.png") {
    assert.equal(stale.left, leftWords(null), `${engine}: stale`);
  } else {
    assert.equal(stale.line, fresh.line.replace('fresh.png', 'out/stale.png'), `${engine}: stale`);
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
  await page.waitFor(settled, n + 2, 'rgb.clt');
  const late = (await page.evaluate(cards)).find((c) => c.path === 'late.png');
  if (late.line === "Error : Can't open file rgb.clt") {
    assert.equal(late.left, leftWords(null), `${engine}: a CLUT changed on disk`);
  } else {
    assert.deepEqual(fromBase64(late.bytes), command(dir, 'late.png', 'rgb.clt', 'late-out.png').bytes,
      `${engine}: a CLUT changed on disk`);
  }
}

// A tree with a CLUT in some folders, two in one, an unusable one, a name
// that climbs, and a file and a folder of one name. `disk` is where each
// image lies; the page names it by its path, and stores it under out/ by
// its path in the folder handed over (`rel`).
function treeImages(dir, how) {
  const tree = {
    'in/a/x.png': [sample], 'in/b/x.png': [sample4], 'in/番組/画像 ①.png': [sample],
    'in/ch01/palette.clt': [readFileSync(join(examples, 'rgb.clt'))], 'in/ch01/p1.png': [sample4, 'in/ch01/palette.clt'],
    'in/ch02/palette.clt': [readFileSync(join(examples, 'ycbcr.clt'))], 'in/ch02/p2.png': [sample, 'in/ch02/palette.clt'],
    'in/ch02/sub/p3.png': [sample4, 'in/ch02/palette.clt'],
    'in/ch03/a.clt': [Buffer.from([0x60])], 'in/ch03/b.clt': [Buffer.from([0x60])],
    'in/ch03/p4.png': [sample, 'ambiguous'], 'in/ch03/deep/p5.png': [sample, 'ambiguous'],
    'in/ch04/bad.clt': [Buffer.from([0x60])], 'in/ch04/p6.png': [sample4, 'in/ch04/bad.clt'],
    'in/evil/..\\..\\evil.png': [sample4], 'in/notes.txt': ['not an image'],
    'in/same.png': [sample], 'in/same.PNG/inside.png': [sample4],
  };
  for (const [path, [bytes]] of Object.entries(tree)) put(dir, path, bytes);
  const stored = { 'in/evil/../../evil.png': 'out/evil/evil.png', 'in/evil/..\\..\\evil.png': 'out/evil/.._.._evil.png',
    'in/same.png': 'out/same (2).png' }; // same.PNG/ comes first: the file gives way
  return Object.entries(tree).filter(([path]) => path.endsWith('.png')).map(([path, [, clut]]) => {
    // Chromium's folder choice turns the backslashes of a name into slashes;
    // a dropped folder's handles keep them.
    const shown = how === 'chosen' ? path.replaceAll('\\', '/') : path;
    return { disk: path, path: shown, rel: shown.slice(3), clut, stored: stored[shown] };
  }).sort((a, b) => (a.path < b.path ? -1 : 1));
}

// A folder chosen, or dropped (with a file beside it): Chromium alone hands
// a folder to a test.
async function folderRounds(page, dir, how) {
  // A dropped folder's handles leave out a name with a backslash, which no
  // Windows file system holds either, without a word: the page cannot see it.
  const images = treeImages(dir, how).filter((image) => how === 'chosen' || !image.disk.includes('\\'));
  const want = (chosen) => images.map((image) => (chosen || image.clut !== 'ambiguous'
    ? expected(dir, image, chosen ?? image.clut ?? null)
    : expected(dir, image, null, 'Error : More than one CLUT file in in/ch03')));
  if (how === 'chosen') await page.setFiles('#png-folder', [join(dir, 'in')]);
  else await page.drop('#drop', [join(dir, 'in')]);
  await page.waitFor(settled, images.length, 'in/ch02/palette.clt for in/ch02');
  await check(page, want(null), `chromium, a folder of CLUTs, ${how}`, { inDir: 'in' });
  if (how !== 'chosen') return;
  copyFileSync(join(examples, 'rgb.clt'), join(dir, 'rgb.clt'));
  await page.setFiles('#clut-file', [join(dir, 'rgb.clt')]);
  await page.waitFor(settled, images.length, 'rgb.clt, for every image');
  await check(page, want('rgb.clt'), 'chromium, a folder with a CLUT for every image', { inDir: 'in' });
  if (process.env.PALFILL_SCREENSHOT) await page.screenshot(process.env.PALFILL_SCREENSHOT);
}

// Files dropped, in every engine as far as its driver lets a test drop.
async function dropRound(engine, page, dir) {
  const images = flatImages(dir).filter((image) => !image.path.includes('\\') && !image.stored);
  await page.drop('#drop', images.map((image) => join(dir, image.disk)));
  await page.waitFor(settled, images.length, 'default colours');
  await check(page, images.map((image) => expected(dir, image, null)), `${engine}, files dropped`);
}

// Thousands of images with the page's thread never busy for long, then
// saved into a folder the user picked (one in the origin's own storage:
// no test can pick one), over an earlier output and someone's data.
async function scaleRounds(page, dir) {
  const count = 3000;
  const variants = [sample, sample4, sample.subarray(0, 3000), Buffer.from('not a png')];
  for (let i = 0; i < count; i++) put(dir, `many/${String(i).padStart(4, '0')}.png`, variants[i % variants.length]);
  const wants = variants.map((bytes, i) => {
    put(dir, `one-${i}.png`, bytes);
    return command(dir, `one-${i}.png`, null, `out-${i}.png`);
  });
  await page.setFiles('#png-folder', [join(dir, 'many')]);
  await page.waitFor(settled, count, 'default colours');
  const failed = wants.filter((w) => w.status !== 0).length * (count / variants.length);
  assert.match(await page.evaluate(() => document.getElementById('status').textContent),
    new RegExp(`^${count - failed} converted, ${failed} failed\\.$`));
  assert.ok((await page.evaluate(() => document.querySelectorAll('#results li:not(#more)').length)) < count,
    'the cards drawn as the list scrolls');
  await page.click('#download-all');
  await page.waitFor(() => document.querySelectorAll('#zip-links a').length > 0);
  const longest = await page.longestTask();
  assert.ok(longest <= 250, `the page's thread was busy for ${longest} ms at a stretch`);

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
    const card = [...document.querySelectorAll('#results li')].find((li) => li.output.path === 'many/0000.png');
    return { found, line: card.querySelector('.line').textContent };
  });
  assert.equal(saved.line, 'Error : Output is not a PNG file out/0000.png');
  assert.equal(Buffer.from(saved.found['out/0000.png'], 'base64').toString(), 'my notes, not an image');
  for (let i = 1; i < count; i++) {
    const name = `out/${String(i).padStart(4, '0')}.png`;
    const want = wants[i % variants.length].bytes;
    if (want === null) assert.equal(saved.found[name], undefined, name);
    else assert.deepEqual(fromBase64(saved.found[name]), new Uint8Array(want), name);
  }
  const report = Buffer.from(saved.found['failed.txt'], 'base64').toString();
  assert.match(report, /^many\/0000\.png: Error : Output is not a PNG file out\/0000\.png\n/);
  assert.match(report, new RegExp(`\\nFinished many -> out: ${count - failed - 1} converted, ${failed + 1} failed\\n$`));
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
