// The three browser engines the page is tested in, from Debian's packages,
// each driven the way it can be, behind one small interface. Nothing is
// downloaded: puppeteer-core (pinned in package-lock.json) drives Chromium
// over CDP and Firefox over its own WebDriver BiDi; WebKitWebDriver drives
// WebKitGTK's MiniBrowser (Safari's engine) over classic WebDriver, which
// needs a display (xvfb-run).
//
//   const browser = await launch('chromium' | 'firefox' | 'webkit');
//   const page = await browser.open(url, { withoutFolders });
//   await page.setFiles(selector, paths); await page.click(selector);
//   await page.drop(selector, paths)  // files and folders dropped there
//   await page.evaluate(fn, ...args); await page.waitFor(fn, ...args);
//   page.download(selector)  // Chromium only: the browser's own download
//   await page.longestTask() // Chromium only: the page's longest task since files arrived, in ms
//   await page.problems()    // page errors, CSP violations, requests made
//   await page.close(); await browser.close();
//
// `fn` is a function run in the page, its result returned as JSON.
// `withoutFolders` removes folder choice before the page runs, as in a
// browser that lacks it (not in WebKit, which has no such hook). A drop is
// the browser's own in Chromium, through the DevTools protocol, folders
// included; the other engines' drivers cannot drag, so there the page gets
// a drop event whose files a file input of the test's took.
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const require = createRequire(new URL('../package.json', import.meta.url));

export const engines = {
  chromium: process.env.PALFILL_CHROMIUM ?? '/usr/bin/chromium',
  firefox: process.env.PALFILL_FIREFOX ?? '/usr/bin/firefox-esr',
  webkit: process.env.PALFILL_WEBKIT_DRIVER ?? '/usr/bin/WebKitWebDriver',
};

// Why an engine cannot run here, or '' when it can.
export function missing(engine) {
  if (!existsSync(engines[engine])) return `${engines[engine]} is missing`;
  if (engine === 'webkit' && !process.env.DISPLAY) return 'WebKit needs a display: run under xvfb-run';
  return '';
}

// Listens, once the page has loaded, for what must not happen.
function watch() {
  window.palfillSeen = { errors: [], violations: [] };
  addEventListener('error', (e) => window.palfillSeen.errors.push(String(e.message)));
  addEventListener('unhandledrejection', (e) => window.palfillSeen.errors.push(String(e.reason)));
  document.addEventListener('securitypolicyviolation',
    (e) => window.palfillSeen.violations.push(`${e.violatedDirective} ${e.blockedURI}`));
}

function seen() {
  const requests = performance.getEntriesByType('resource').map((e) => e.name)
    .filter((name) => !name.startsWith('blob:') && !name.startsWith('data:'));
  return { ...window.palfillSeen, requests };
}

const dropFolderChoice = () => { delete HTMLInputElement.prototype.webkitdirectory; };

// Chromium reports each task of the page's thread over 50 ms. What counts
// is the page's own part, from when files arrive (a choice's change event,
// or a drop): the browser's making of a list of thousands of chosen files
// ends in the task that hands them over.
const watchLongTasks = () => {
  window.palfillTasks = [];
  window.palfillArrived = Infinity;
  const arrived = () => { window.palfillArrived = Math.min(window.palfillArrived, performance.now()); };
  document.addEventListener('change', arrived, true);
  document.addEventListener('drop', arrived, true);
  new PerformanceObserver((list) => {
    for (const entry of list.getEntries()) window.palfillTasks.push([entry.startTime, entry.duration]);
  }).observe({ type: 'longtask', buffered: true });
};

const longestSinceArrival = () => Math.max(0, ...window.palfillTasks.map(([start, duration]) =>
  start + duration - Math.max(start, window.palfillArrived)));

// The files of a test's own file input, dropped on `selector`.
function dropFromInput(selector) {
  const input = document.getElementById('palfill-test-files');
  const transfer = new DataTransfer();
  for (const file of input.files) transfer.items.add(file);
  input.remove();
  const target = document.querySelector(selector);
  for (const type of ['dragenter', 'dragover', 'drop']) {
    target.dispatchEvent(new DragEvent(type, { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }
}

const addTestInput = () => {
  const input = Object.assign(document.createElement('input'), { type: 'file', multiple: true, id: 'palfill-test-files' });
  document.body.append(input);
};

// What the page says, for a wait that ends in vain.
const pageState = () => ['status', 'clut-status'].map((id) => document.getElementById(id)?.textContent).join(' | ');

// How long a wait may take; the benchmark's thousands of images take longer.
const waitLimit = Number(process.env.PALFILL_WAIT_SECONDS ?? 60) * 1000;

async function poll(check, describe = async () => '', timeout = waitLimit) {
  for (const start = Date.now(); ;) {
    const value = await check();
    if (value) return value;
    if (Date.now() - start > timeout) throw new Error(`timed out waiting for the page: ${await describe()}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

async function launchPuppeteer(engine) {
  const puppeteer = require('puppeteer-core');
  const browser = await puppeteer.launch(engine === 'firefox'
    ? { browser: 'firefox', executablePath: engines.firefox, headless: true }
    : {
      executablePath: engines.chromium, headless: true,
      args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
  return {
    async open(url, { withoutFolders = false } = {}) {
      const page = await browser.newPage();
      const errors = [];
      const requests = [];
      page.on('pageerror', (error) => errors.push(error.message));
      page.on('request', (request) => {
        if (!request.url().startsWith('blob:') && request.url() !== url) requests.push(request.url());
      });
      if (withoutFolders) await page.evaluateOnNewDocument(dropFolderChoice);
      if (engine === 'chromium') await page.evaluateOnNewDocument(watchLongTasks);
      await page.goto(url);
      await page.evaluate(watch);
      const downloads = engine === 'chromium' ? mkdtempSync(join(tmpdir(), 'palfill-downloads-')) : null;
      const cdp = downloads && await page.createCDPSession();
      if (cdp) await cdp.send('Browser.setDownloadBehavior', { behavior: 'allowAndName', downloadPath: downloads, eventsEnabled: true });
      return {
        setFiles: async (selector, paths) => (await page.$(selector)).uploadFile(...paths),
        click: (selector) => page.click(selector),
        async drop(selector, paths) {
          if (!cdp) {
            await page.evaluate(addTestInput);
            await (await page.$('#palfill-test-files')).uploadFile(...paths);
            return page.evaluate(dropFromInput, selector);
          }
          const box = await (await page.$(selector)).boundingBox();
          const at = { x: box.x + box.width / 2, y: box.y + box.height / 2 };
          const data = { items: [], files: paths, dragOperationsMask: 1 };
          for (const type of ['dragEnter', 'dragOver', 'drop']) await cdp.send('Input.dispatchDragEvent', { type, ...at, data });
          return undefined;
        },
        longestTask: cdp && (() => page.evaluate(longestSinceArrival)),
        evaluate: (fn, ...args) => page.evaluate(fn, ...args),
        waitFor: (fn, ...args) => poll(() => page.evaluate(fn, ...args), () => page.evaluate(pageState)),
        async problems() {
          const found = await page.evaluate(seen);
          return { ...found, errors: [...errors, ...found.errors], requests: [...requests, ...found.requests] };
        },
        download: cdp && (async (selector) => {
          const begun = new Promise((resolve) => cdp.once('Browser.downloadWillBegin', resolve));
          const done = new Promise((resolve) => {
            const on = (event) => { if (event.state === 'completed') { cdp.off('Browser.downloadProgress', on); resolve(); } };
            cdp.on('Browser.downloadProgress', on);
          });
          await page.click(selector);
          const { guid, suggestedFilename } = await begun;
          await done;
          return { name: suggestedFilename, bytes: new Uint8Array(readFileSync(join(downloads, guid))) };
        }),
        screenshot: (path) => page.setViewport({ width: 1100, height: 1500 })
          .then(() => page.evaluate(() => window.scrollTo(0, 0))).then(() => page.screenshot({ path })),
        async close() {
          await page.close();
          // A download may still be landing there.
          if (downloads) rmSync(downloads, { recursive: true, force: true, maxRetries: 20, retryDelay: 50 });
        },
      };
    },
    close: () => browser.close(),
    pid: () => browser.process()?.pid,
  };
}

async function launchWebKit() {
  const port = 20000 + Math.floor(Math.random() * 20000);
  const driver = spawn(engines.webkit, [`--port=${port}`], { stdio: 'ignore' });
  const base = `http://127.0.0.1:${port}`;
  const call = async (method, path, body) => {
    const response = await fetch(base + path, {
      method, headers: { 'content-type': 'application/json' }, body: body && JSON.stringify(body),
    });
    const { value } = await response.json();
    if (value && value.error) throw new Error(`${path}: ${value.error}: ${value.message}`);
    return value;
  };
  const binary = readdirSync('/usr/lib').flatMap((arch) => ['4.1', '4.0'].map((v) => `/usr/lib/${arch}/webkit2gtk-${v}/MiniBrowser`))
    .find((path) => existsSync(path));
  const session = await poll(() => call('POST', '/session', {
    capabilities: { alwaysMatch: { browserName: 'MiniBrowser', 'webkitgtk:browserOptions': { binary, args: ['--automation'] } } },
  }).catch(() => null), undefined, 20000);
  const s = `/session/${session.sessionId}`;
  const run = async (fn, args) => {
    const got = await call('POST', `${s}/execute/async`, {
      script: `const done = arguments[arguments.length - 1];
        Promise.resolve().then(() => (${fn}).apply(null, [...arguments].slice(0, -1)))
          .then((value) => done({ value }), (error) => done({ error: String(error) }));`,
      args,
    });
    if (got.error) throw new Error(got.error);
    return got.value;
  };
  const element = async (selector) =>
    Object.values(await call('POST', `${s}/element`, { using: 'css selector', value: selector }))[0];
  return {
    async open(url) {
      await call('POST', `${s}/url`, { url });
      await run(watch, []);
      return {
        // WebDriver adds files to those of an earlier choice; a person's
        // choice replaces them.
        async setFiles(selector, paths) {
          await run((chosen) => { document.querySelector(chosen).value = ''; }, [selector]);
          await call('POST', `${s}/element/${await element(selector)}/value`, { text: paths.join('\n') });
        },
        click: async (selector) => call('POST', `${s}/element/${await element(selector)}/click`, {}),
        async drop(selector, paths) {
          await run(addTestInput, []);
          await call('POST', `${s}/element/${await element('#palfill-test-files')}/value`, { text: paths.join('\n') });
          await run(dropFromInput, [selector]);
        },
        longestTask: null,
        evaluate: (fn, ...args) => run(fn, args),
        waitFor: (fn, ...args) => poll(() => run(fn, args), () => run(pageState, [])),
        problems: () => run(seen, []),
        download: null,
        close: async () => {},
      };
    },
    async close() {
      await call('DELETE', s).catch(() => {});
      driver.kill();
    },
  };
}

export const launch = (engine) => (engine === 'webkit' ? launchWebKit() : launchPuppeteer(engine));
