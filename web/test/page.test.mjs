// The page in headless Chromium (Debian's; none is downloaded), loaded from
// file://: a folder with subfolders, the examples and damaged images go in,
// with and without a CLUT file. Every line and every downloaded output must
// equal the command's, the zip must hold exactly the outputs and
// failed.txt, and no request may leave the page.
//   PALFILL_SCREENSHOT=docs/web-page.png also saves a picture of it at work.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { copyFileSync, mkdirSync, readFileSync, rmSync } from 'node:fs';
import { basename, dirname, join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';
import { command, damagedCases, examples, put, tempDir, webDir } from './support.mjs';

// The entries of a zip of stored files, by name.
function unzip(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const entries = new Map();
  for (let at = 0; view.getUint32(at, true) === 0x04034b50;) {
    assert.equal(view.getUint16(at + 8, true), 0, 'stored, not compressed');
    const size = view.getUint32(at + 18, true);
    const nameLength = view.getUint16(at + 26, true);
    const name = new TextDecoder().decode(bytes.subarray(at + 30, at + 30 + nameLength));
    const data = bytes.subarray(at + 30 + nameLength, at + 30 + nameLength + size);
    entries.set(name, { data, crc: view.getUint32(at + 14, true) });
    at += 30 + nameLength + size;
  }
  return entries;
}

const pageUrl = pathToFileURL(join(webDir, 'palfill.html')).href;

async function openBrowser() {
  const browser = await chromium.launch({
    executablePath: process.env.PALFILL_CHROMIUM ?? '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const context = await browser.newContext({ acceptDownloads: true });
  const requests = [];
  context.on('request', (request) => {
    const url = request.url();
    if (!url.startsWith('blob:') && url !== pageUrl) requests.push(url);
  });
  return { browser, context, requests, errors: [] };
}

// A fresh page given the folder and the CLUT file. Chromium takes ten
// downloads from one page, so the test opens as many as it needs.
async function openPage(session, folder, clut, count) {
  const page = await session.context.newPage();
  page.on('pageerror', (error) => session.errors.push(error.message));
  await page.goto(pageUrl);
  await page.setInputFiles('#png-folder', folder);
  if (clut) await page.setInputFiles('#clut-file', clut);
  await page.waitForFunction(([n, name]) =>
    document.getElementById('status').textContent.startsWith(`${n} images done`) &&
    document.getElementById('clut-status').textContent.includes(name), [count, clut ? basename(clut) : 'default']);
  return page;
}

async function download(page, locator) {
  const [file] = await Promise.all([page.waitForEvent('download'), locator.click()]);
  return { name: file.suggestedFilename(), bytes: new Uint8Array(readFileSync(await file.path())) };
}

test('the page converts as the command does, zips it all and sends nothing', async () => {
  // The tree: in/ with subfolders and two files of one name, the examples, damaged images.
  const dir = tempDir();
  put(dir, 'in/a/x.png', readFileSync(join(examples, 'sample.png')));
  put(dir, 'in/b/x.png', readFileSync(join(examples, 'sample-4bit.png')));
  put(dir, 'in/番組/画像 ①.png', readFileSync(join(examples, 'sample.png')));
  for (const [name, bytes] of damagedCases()) put(dir, `in/damaged/${name}`, bytes);
  put(dir, 'in/notes.txt', 'not an image');
  copyFileSync(join(examples, 'rgb.clt'), join(dir, 'rgb.clt'));
  put(dir, 'bad.clt', Buffer.from([0x60]));

  const session = await openBrowser();
  const folder = join(dir, 'in');
  const inputs = damagedCases().length + 3;
  try {
    for (const clut of [null, 'rgb.clt', 'bad.clt']) {
      const clutPath = clut && join(dir, clut);
      let page = await openPage(session, folder, clutPath, inputs);
      const items = () => page.locator('#results li');
      assert.equal(await items().count(), inputs);
      const failed = [];
      const zipWant = new Map();
      const downloads = [];
      for (let i = 0; i < inputs; i++) {
        const item = items().nth(i);
        const path = await item.locator('.name').textContent();
        rmSync(join(dir, 'out'), { recursive: true, force: true });
        mkdirSync(dirname(join(dir, 'out', path)), { recursive: true });
        const want = command(dir, path, clut, `out/${path}`);
        assert.equal(await item.locator('.line').textContent(), want.line, path);
        if (want.status !== 0) failed.push(`${path}: ${want.line}\n`);
        if (want.bytes === null) {
          assert.equal(await item.locator('a[download]').count(), 0, `${path}: a download where the command leaves nothing`);
          continue;
        }
        zipWant.set(`out/${path}`, want.bytes);
        downloads.push({ i, path, bytes: want.bytes });
      }
      assert.equal(await page.locator('#failed-list').textContent(), failed.join(''));
      if (failed.length) zipWant.set('failed.txt', new TextEncoder().encode(failed.join('')));
      const zip = await download(page, page.locator('#download-all'));
      assert.equal(zip.name, 'palfill-out.zip');
      const entries = unzip(zip.bytes);
      assert.deepEqual([...entries.keys()].sort(), [...zipWant.keys()].sort());
      for (const [name, bytes] of zipWant) assert.deepEqual(entries.get(name).data, bytes, name);

      for (const [n, { i, path, bytes }] of downloads.entries()) {
        if ((n + 1) % 9 === 0) {
          await page.close();
          page = await openPage(session, folder, clutPath, inputs);
        }
        const got = await download(page, items().nth(i).locator('a[download]'));
        assert.equal(got.name, path.split('/').pop());
        assert.deepEqual(got.bytes, bytes, path);
      }
      if (process.env.PALFILL_SCREENSHOT && clut === 'rgb.clt') {
        await page.setViewportSize({ width: 1100, height: 1500 });
        await page.evaluate(() => window.scrollTo(0, 0));
        await page.screenshot({ path: process.env.PALFILL_SCREENSHOT });
      }
      await page.close();
    }
    assert.deepEqual(session.errors, []);
    assert.deepEqual(session.requests, [], 'requests left the page');
  } finally {
    await session.browser.close();
    rmSync(dir, { recursive: true });
  }
});
