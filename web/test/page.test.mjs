// The page in Chromium, Firefox and WebKit (Debian's; none is downloaded),
// loaded from file://. Images go in, with a CLUT for every image, with
// CLUTs in their folders, with two in one folder, with damaged and
// unreadable files, with names that would climb out of a zip's folder.
// Every line and every download must equal the command's, the zip must
// hold exactly the outputs under safe, distinct names and unpack the same
// with unzip, bsdtar, 7z and Python, and nothing may fail or leave the page.
//   PALFILL_REQUIRE_ALL_ENGINES=1 fails where an engine cannot run;
//   PALFILL_SCREENSHOT=docs/web-page.png saves a picture of it at work.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { copyFileSync, mkdirSync, readdirSync, readFileSync, rmSync, statSync, utimesSync } from 'node:fs';
import { dirname, join, relative } from 'node:path';
import { pathToFileURL } from 'node:url';
import { launch, missing } from './browsers.mjs';
import { command, damagedCases, examples, put, tempDir, webDir } from './support.mjs';

const pageUrl = pathToFileURL(join(webDir, 'palfill.html')).href;
const sample = readFileSync(join(examples, 'sample.png'));
const sample4 = readFileSync(join(examples, 'sample-4bit.png'));
const fromBase64 = (text) => new Uint8Array(Buffer.from(text, 'base64'));

// Everything a person sees of each result, and what each link hands over.
function cards() {
  const base64 = async (blob) => {
    const bytes = new Uint8Array(await blob.arrayBuffer());
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(text);
  };
  return Promise.all([...document.querySelectorAll('#results li')].map(async (item) => {
    const link = item.querySelector('a');
    if (link) link.dispatchEvent(new Event('focus')); // as a keyboard reaches it
    const text = (selector) => item.querySelector(selector)?.textContent ?? null;
    return { path: text('.name'), line: text('.line'), note: text('.note'), colours: text('.colours'),
      nothing: text('.nothing'), name: link && link.download, bytes: link && await base64(link.blob) };
  }));
}

function zipBlob() {
  const blob = document.getElementById('zip-link').blob;
  return blob.arrayBuffer().then((buffer) => {
    const bytes = new Uint8Array(buffer);
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(text);
  });
}

const settled = (count, colours) => {
  const status = document.getElementById('status').textContent;
  const shown = document.getElementById('clut-status').textContent;
  return status.startsWith(`${count} images done`) && shown.includes(colours) && status;
};

// What the page must show for one image: the command's line and output,
// or the page's own line where it converts nothing (an ambiguous folder).
function expected(dir, image, clut, pageLine) {
  rmSync(join(dir, 'out'), { recursive: true, force: true });
  mkdirSync(dirname(join(dir, 'out', image.disk)), { recursive: true });
  const want = pageLine ? { line: pageLine, bytes: null, status: 1 } : command(dir, image.disk, clut, `out/${image.disk}`);
  const stored = image.stored ?? `out/${image.path}`;
  const note = want.bytes && stored !== `out/${image.path}` ? `(stored as ${stored})` : '';
  return { ...image, line: want.line.replaceAll(image.disk, image.path), bytes: want.bytes, ok: want.status === 0,
    colours: `Colours: ${clut ?? (pageLine ? pageLine.replace('Error : M', 'm') : 'the default colours')}`,
    stored, note, failedNote: [clut && `(colours: ${clut})`, note].filter(Boolean).join(' ') };
}

// Holds the page to what the command does for `wants`, then its zip too.
async function check(page, wants, what) {
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
    if (!want.ok) failed.push(`${want.path}: ${want.line}${want.failedNote ? ` ${want.failedNote}` : ''}\n`);
    if (want.bytes === null || want.bytes.length === 0) {
      assert.equal(card.bytes, null, `${where}: a download where nothing was written`);
      assert.equal(card.nothing, 'Nothing was written.', where);
    } else {
      assert.equal(card.name, want.stored.split('/').pop(), where);
      assert.deepEqual(fromBase64(card.bytes), want.bytes, where);
    }
    if (want.bytes !== null) entries.set(want.stored, want.bytes);
  }
  assert.equal(await page.evaluate(() => document.getElementById('failed-list').textContent), failed.join(''), what);
  if (failed.length) entries.set('failed.txt', new TextEncoder().encode(failed.join('')));
  let zip;
  if (page.download) {
    zip = await page.download('#download-all');
    assert.equal(zip.name, 'palfill-out.zip');
    assert.deepEqual(fromBase64(await page.evaluate(zipBlob)), zip.bytes, `${what}: the zip handed over`);
    zip = zip.bytes;
  } else {
    await page.click('#download-all');
    zip = fromBase64(await page.evaluate(zipBlob));
  }
  checkZip(zip, entries, what);
}

// The zip as every unzip reads it: the same tree, the same bytes, the
// names intact; each entry made by Unix, mode 0644, dated today.
function checkZip(zip, entries, what) {
  const dir = tempDir();
  put(dir, 'palfill-out.zip', zip);
  const file = join(dir, 'palfill-out.zip');
  const env = { ...process.env, LANG: 'C.UTF-8', LC_ALL: 'C.UTF-8' };
  const tools = {
    unzip: (to) => ['unzip', ['-q', file, '-d', to]],
    bsdtar: (to) => ['bsdtar', ['-xf', file, '-C', to]],
    '7z': (to) => ['7z', ['x', '-bd', '-y', `-o${to}`, file]],
    python: (to) => ['python3', ['-m', 'zipfile', '-e', file, to]],
  };
  for (const [tool, args] of Object.entries(tools)) {
    const to = join(dir, tool);
    mkdirSync(to);
    const [program, argv] = args(to);
    const run = spawnSync(program, argv, { env, encoding: 'utf8' });
    assert.equal(run.status, 0, `${what}: ${tool}: ${run.stderr}`);
    const found = new Map();
    const walk = (at) => {
      for (const name of readdirSync(at)) {
        const path = join(at, name);
        if (statSync(path).isDirectory()) walk(path);
        else found.set(relative(to, path), new Uint8Array(readFileSync(path)));
      }
    };
    walk(to);
    assert.deepEqual([...found.keys()].sort(), [...entries.keys()].sort(), `${what}: ${tool}`);
    for (const [name, bytes] of entries) assert.deepEqual(found.get(name), bytes, `${what}: ${tool}: ${name}`);
  }
  const info = spawnSync('python3', ['-c', `
import sys, time, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    age = time.time() - time.mktime(i.date_time + (0, 0, -1))
    print(i.create_system, oct(i.external_attr >> 16), int(-120 < age < 600), i.flag_bits & 0x800)`, file],
  { encoding: 'utf8' });
  for (const line of info.stdout.trim().split('\n')) assert.equal(line, '3 0o100644 1 2048', `${what}: an entry's header`);
  rmSync(dir, { recursive: true });
}

// Images chosen as files, which every engine can hand over: names that
// would climb out of a folder or clash in the zip among them.
function flatImages(dir) {
  const images = [
    { path: 'sample.png', bytes: sample },
    { path: '番組 画像 ①.png', bytes: sample },
    { path: '..\\..\\..\\..\\evil.png', bytes: sample4, stored: 'out/.._.._.._.._evil.png' },
    { path: 'a\\b.png', bytes: sample, stored: 'out/a_b.png' },
    { path: 'a_b.png', bytes: sample4, stored: 'out/a_b (2).png' },
    ...damagedCases().filter((_, i) => i % 3 === 0).map(([path, bytes]) => ({ path, bytes })),
  ];
  for (const image of images) {
    image.disk = image.path;
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
  const round = async (what, clut, pageLine) =>
    check(page, images.map((image) => expected(dir, image, clut, pageLine)), `${engine}, ${what}`);

  await page.setFiles('#png-files', files(images.map((i) => i.path)));
  await page.waitFor(settled, n, 'default colours');
  await round('the default colours', null);

  await page.setFiles('#clut-file', files(['rgb.clt']));
  await page.waitFor(settled, n, 'rgb.clt, for every image');
  await round('a CLUT for every image', 'rgb.clt');

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
    assert.equal(stale.nothing, 'Nothing was written.', `${engine}: stale`);
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
    assert.equal(late.nothing, 'Nothing was written.', `${engine}: a CLUT changed on disk`);
  } else {
    assert.deepEqual(fromBase64(late.bytes), command(dir, 'late.png', 'rgb.clt', 'late-out.png').bytes,
      `${engine}: a CLUT changed on disk`);
  }
}

// A folder with a CLUT in some subfolders, two in one, an unusable one,
// and a name that climbs: Chromium alone hands a folder to a test.
async function folderRounds(page, dir) {
  const tree = {
    'in/a/x.png': [sample], 'in/b/x.png': [sample4], 'in/番組/画像 ①.png': [sample],
    'in/ch01/palette.clt': [readFileSync(join(examples, 'rgb.clt'))], 'in/ch01/p1.png': [sample4, 'in/ch01/palette.clt'],
    'in/ch02/palette.clt': [readFileSync(join(examples, 'ycbcr.clt'))], 'in/ch02/p2.png': [sample, 'in/ch02/palette.clt'],
    'in/ch02/sub/p3.png': [sample4, 'in/ch02/palette.clt'],
    'in/ch03/a.clt': [Buffer.from([0x60])], 'in/ch03/b.clt': [Buffer.from([0x60])],
    'in/ch03/p4.png': [sample, 'ambiguous'], 'in/ch03/deep/p5.png': [sample, 'ambiguous'],
    'in/ch04/bad.clt': [Buffer.from([0x60])], 'in/ch04/p6.png': [sample4, 'in/ch04/bad.clt'],
    'in/evil/..\\..\\evil.png': [sample4], 'in/notes.txt': ['not an image'],
  };
  for (const [path, [bytes]] of Object.entries(tree)) put(dir, path, bytes);
  const images = Object.entries(tree).filter(([path]) => path.endsWith('.png')).map(([path, [, clut]]) => {
    // Chromium turns the backslashes of a folder's names into slashes.
    const climbing = path.includes('\\');
    return { disk: path, path: climbing ? path.replaceAll('\\', '/') : path, clut,
      stored: climbing ? 'out/in/evil/evil.png' : undefined };
  }).sort((a, b) => (a.path < b.path ? -1 : 1));
  const want = (chosen) => images.map((image) => (chosen || image.clut !== 'ambiguous'
    ? expected(dir, image, chosen ?? image.clut ?? null)
    : expected(dir, image, null, 'Error : More than one CLUT file in in/ch03')));

  await page.setFiles('#png-folder', [join(dir, 'in')]);
  await page.waitFor(settled, images.length, 'in/ch02/palette.clt for in/ch02');
  await check(page, want(null), 'chromium, a folder of CLUTs');
  copyFileSync(join(examples, 'rgb.clt'), join(dir, 'rgb.clt'));
  await page.setFiles('#clut-file', [join(dir, 'rgb.clt')]);
  await page.waitFor(settled, images.length, 'rgb.clt, for every image');
  await check(page, want('rgb.clt'), 'chromium, a folder with a CLUT for every image');
  if (process.env.PALFILL_SCREENSHOT) await page.screenshot(process.env.PALFILL_SCREENSHOT);
}

for (const engine of ['chromium', 'firefox', 'webkit']) {
  const why = missing(engine);
  test(`the page in ${engine} converts as the command does, zips it all safely and sends nothing`,
    { skip: why && process.env.PALFILL_REQUIRE_ALL_ENGINES !== '1' ? why : false }, async () => {
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
        if (engine === 'chromium') {
          const folderPage = await browser.open(pageUrl);
          await folderRounds(folderPage, join(dir, 'tree'));
          assert.deepEqual(await folderPage.problems(), { errors: [], violations: [], requests: [] }, engine);
          await folderPage.close();
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
