// The page: takes PNG files, folders, BML documents and CLUT files, has
// each image converted as `palfill-tree CHOSEN out` converts it, and shows
// its line, the colours it took and why, what it left, a preview and a
// download; then zips every output, or writes them into a folder. This
// thread reads the files, as a blank page would, and hands their bytes
// over; the planning, the conversions and the zips run in a worker
// (worker.js).
import { byPath } from './names.js';

const $ = (id) => document.getElementById(id);
const shownAtOnce = 200; // cards drawn at a time, more as the list scrolls
const reading = 32; // files read at once, as a blank page reads them
const aheadFiles = 512; // images handed over and not yet converted, at most
const aheadBytes = 64 * 1024 * 1024; // ... and their bytes; and those read while the worker plans
const earlyFiles = 16384; // images read while the worker plans, at most
const batchFiles = 64; // images handed over in one message, at most

// What has been chosen or dropped: the tree, the CLUT for every image, and
// what a drop could not read.
const handed = { files: new Map(), clut: null, dropNote: '' };

// The run showing, replaced whole by each new one: its outputs, counts and
// cards. A message or an answer meant for another run is dropped.
let run = null;
let runs = 0;

// ---- The worker, made from the source the page carries (CSP: worker-src blob:).

const worker = new Worker(URL.createObjectURL(new Blob([$('worker-source').textContent],
  { type: 'text/javascript' })));
const waiting = new Map(); // request id -> resolve
let requests = 0;

function ask(message) {
  const id = ++requests;
  return new Promise((resolve) => {
    waiting.set(id, resolve);
    worker.postMessage({ ...message, id });
  });
}

worker.onerror = (event) => {
  $('status').textContent = `The page's worker failed: ${event.message || 'it could not start'}.`;
};

worker.onmessage = ({ data }) => {
  if (data.type === 'ready') $('version').textContent = data.version;
  else if (data.type === 'failed') $('status').textContent = `Something went wrong: ${data.message}`;
  else if (waiting.has(data.id)) {
    waiting.get(data.id)(data);
    waiting.delete(data.id);
  } else if (run !== null && data.run === run.id) {
    ({ planned, converted, finished, clutLine: (of, { line }) => showColours(of, line) })[data.type]?.(run, data);
  }
};

// ---- What the browser can hand over.

const canChooseFolders = 'webkitdirectory' in HTMLInputElement.prototype;
const canDropFolders = typeof DataTransferItem !== 'undefined' &&
  ('getAsFileSystemHandle' in DataTransferItem.prototype || 'webkitGetAsEntry' in DataTransferItem.prototype);
if (!canChooseFolders) {
  $('folder-choice').hidden = true;
  $('folder-note').hidden = false;
  $('folder-note').textContent = 'This browser cannot choose folders: choose the PNG files and their ' +
    `CLUT file instead${canDropFolders ? ', or drop the folder here' : ''}.`;
}
$('save-folder').hidden = typeof window.showDirectoryPicker !== 'function';

// Files handed over at once ([{ path, source }]) join those handed before;
// a file of the same path replaces the earlier.
function addFiles(entries) {
  for (const { path, source } of entries) handed.files.set(path, source);
  convertAll();
}

function chooseClut(file) {
  handed.clut = file ? { path: file.name, source: file } : null;
  $('clear-clut').disabled = !handed.clut;
  convertAll();
}

// The folder palfill-tree would be given: the one every file lies in, or
// '.' for files chosen one by one.
function inDirOf(paths) {
  const tops = new Set(paths.map((path) => (path.includes('/') ? path.slice(0, path.indexOf('/')) : '')));
  return tops.size === 1 && !tops.has('') ? [...tops][0] : '.';
}

// ---- Converting.

// A file's bytes (a File, or a file handle read now), or null when it can
// no longer be read: changed or gone since it was chosen.
async function bytesOf(source) {
  try {
    const file = typeof source.getFile === 'function' ? await source.getFile() : source;
    return new Uint8Array(await file.arrayBuffer());
  } catch {
    return null;
  }
}

// Reads `paths` of the run, `reading` at once, and hands each batch of
// them over as `type` ([{ path, bytes }], their buffers transferred), no
// further ahead of the worker than `mayRead()` allows.
async function handOver(of, type, paths, mayRead = () => true) {
  let next = 0;
  let batch = [];
  let batchBytes = 0;
  const flush = () => {
    if (batch.length === 0 || of !== run) return;
    worker.postMessage({ type, run: of.id, files: batch }, batch.flatMap((f) => (f.bytes ? [f.bytes.buffer] : [])));
    batch = [];
    batchBytes = 0;
  };
  const reader = async () => {
    while (next < paths.length && of === run) {
      if (!mayRead()) {
        flush();
        of.paused ??= new Promise((resolve) => { of.resume = resolve; });
        await of.paused;
        continue;
      }
      const path = paths[next++];
      const early = of.early.get(path);
      of.early.delete(path);
      const bytes = await (early ?? bytesOf(of.sources.get(path)));
      of.sentFiles++;
      of.sentBytes += bytes ? bytes.length : 0;
      batch.push({ path, bytes });
      batchBytes += bytes ? bytes.length : 0;
      if (batch.length >= batchFiles || batchBytes >= aheadBytes / 8) flush();
    }
  };
  await Promise.all(Array.from({ length: reading }, reader));
  flush();
}

// A new run over everything handed: the worker gets the tree's paths and
// the bytes of its documents and sheets, plans, then gets the CLUTs and the
// images the plan names as they are read, and tells the results a few at
// a time.
async function convertAll() {
  const paths = [...handed.files.keys()];
  const inDir = inDirOf(paths);
  const prefix = inDir === '.' ? '' : `${inDir}/`;
  const of = {
    id: ++runs, inDir, outputs: [], notices: [],
    sources: new Map(paths.map((path) => [path.slice(prefix.length), handed.files.get(path)])),
    sentFiles: 0, sentBytes: 0, imagesDone: 0, bytesDone: 0, paused: null, resume: null, early: new Map(), planArrived: false,
    done: 0, converted: 0, failed: 0, finished: false, drawn: 0, shown: shownAtOnce, nearing: [],
    drawing: false, drawAgain: false, finalDrawn: false, showing: null,
  };
  if (handed.clut) of.sources.set(handed.clut.path, handed.clut.source);
  run = of;
  resetList();
  $('results').setAttribute('aria-busy', 'true');
  showColours(of, '');
  show(of, false);
  const tree = [...of.sources.keys()].filter((path) => !handed.clut || path !== handed.clut.path ||
    handed.files.has(prefix + path));
  worker.postMessage({ type: 'tree', run: of.id, inDir, given: handed.clut && { path: handed.clut.path },
    paths: tree });
  await handOver(of, 'documents', tree.filter((path) => /\.(bml|css)$/i.test(path)));
  if (of === run) worker.postMessage({ type: 'documents', run: of.id, files: [], last: true });
  readEarly(of, tree);
}

// While the worker plans, the first images are read, as many as the
// reading ahead allows: the plan names images in the order of their
// paths, as a rule, so these come first.
function readEarly(of, paths) {
  const images = paths.filter((path) => /\.png$/i.test(path)).sort(byPath).slice(0, earlyFiles);
  let next = 0;
  let bytes = 0;
  const reader = async () => {
    while (next < images.length && bytes < aheadBytes && of === run && !of.planArrived) {
      const path = images[next++];
      const read = bytesOf(of.sources.get(path));
      of.early.set(path, read);
      bytes += (await read)?.length ?? 0;
    }
  };
  for (let i = 0; i < reading; i++) reader();
}

// The plan: an output for each rendering, in the order of its path; then
// the CLUTs it names, and the images, read no further ahead than the
// worker allows.
async function planned(of, { outputs, notices, images, cluts }) {
  of.planArrived = true;
  of.outputs = outputs.map((row, index) => ({ ...row, index, who: `${of.inDir}/${row.output}`, done: false }));
  of.notices = notices;
  of.failed += notices.length;
  show(of, false);
  await handOver(of, 'cluts', handed.clut ? [...cluts, handed.clut.path] : cluts);
  const ahead = () => of.sentFiles - of.imagesDone < aheadFiles && of.sentBytes - of.bytesDone < aheadBytes;
  of.sentFiles = 0;
  of.sentBytes = 0;
  await handOver(of, 'images', images, ahead);
  of.early.clear(); // read for images the plan does not convert
}

function converted(of, { results, imagesDone, bytesDone }) {
  for (const result of results) {
    Object.assign(of.outputs[result.index], result, { done: true, line: result.line ?? undefined });
    of.done++;
    if (result.ok) of.converted++;
    else of.failed++;
  }
  Object.assign(of, { imagesDone, bytesDone });
  if (of.resume) {  // the worker has room for more
    of.resume();
    of.resume = null;
    of.paused = null;
  }
  showSoon(of, false);
}

function finished(of) {
  of.finished = true;
  showSoon(of, true);
}

// The colours line at the top: what colours the images take, and a CLUT
// chosen for every image that cannot be used.
function showColours(of, clutLine) {
  const lines = [];
  if (handed.clut) {
    lines.push(clutLine ? `Colours: ${handed.clut.path} cannot be used: ${clutLine}`
      : `Colours: ${handed.clut.path}, for every image.`);
  } else {
    lines.push('Colours: those of the BML documents that show each image; for an image no document ' +
      'shows, the CLUT file of its folder or of the nearest folder above; without one, the 128 default colours.');
  }
  if (of.notices.length) lines.push(...of.notices.map((n) => `${n.who}: ${n.line}`));
  $('clut-status').textContent = lines.join('\n');
}

// ---- Showing.

function showSoon(of, now) {
  if (now) {
    clearTimeout(of.showing);
    of.showing = null;
    show(of, true);
  } else if (of.showing === null) {
    of.showing = setTimeout(() => { of.showing = null; show(of, false); }, 100);
  }
}


// Sets what has changed only: each change can cost the browser a layout,
// and the page shows its progress ten times a second.
function put(id, property, value) {
  const target = $(id);
  if (target[property] !== value) target[property] = value;
}

function show(of, final) {
  if (of !== run) return;
  const all = of.outputs.length;
  const count = `${of.converted} converted, ${of.failed} failed`;
  put('progress', 'hidden', final || all === 0);
  put('progress', 'max', all);
  put('progress', 'value', of.done);
  const status = final ? `${count}.` : `Converting: ${of.done} of ${all} (${count}).`;
  const said = handed.dropNote;
  put('status', 'textContent', all === 0 && of.failed === 0 && final && !said ? 'No images yet.'
    : said ? `${said} ${status}` : status);
  put('failures', 'hidden', of.failed === 0);
  if (of.failedListed !== of.failed) {
    of.failedListed = of.failed;
    $('failed-list').textContent = failedLines(of);
  }
  put('download-all', 'disabled', !final || all === 0);
  put('save-folder', 'disabled', !final || all === 0);
  drawCards(of, final);
}

// The failures as failed.txt lists them (less the control characters'
// escapes, which the zip's copy has).
function failedLines(of) {
  const lines = [...of.notices.map((n) => ({ who: n.who, line: n.line })),
    ...of.outputs.filter((o) => o.done && !o.ok).map((o) => ({ who: o.who, line: o.line }))];
  return lines.sort((a, b) => byPath(a.who, b.who)).map(({ who, line }) => `${who}: ${line}\n`).join('');
}

// Items near the screen get their preview and their link's address, a few
// at a time: each blob: address takes the browser a moment to make.
function showNear(of) {
  for (const target of of.nearing.splice(0, 16)) {
    const { output } = target;
    const img = target.querySelector('img');
    if (img) img.src = urlFor(output);
    const link = target.querySelector('a');
    if (link) pointAt(link, output.blob, urlFor(output));
  }
  if (of.nearing.length) setTimeout(() => showNear(of), 0);
}

const nearScreen = new IntersectionObserver((entries) => {
  const of = run;
  const wasIdle = of.nearing.length === 0;
  for (const entry of entries) {
    if (!entry.isIntersecting) continue;
    if (entry.target.id === 'more') {
      of.shown += shownAtOnce;
      drawCards(of, false);
      continue;
    }
    nearScreen.unobserve(entry.target);
    of.nearing.push(entry.target);
  }
  if (wasIdle && of.nearing.length) setTimeout(() => showNear(of), 0);
}, { rootMargin: '400px' });

function resetList() {
  nearScreen.disconnect();
  for (const old of document.querySelectorAll('#results a')) if (old.url) URL.revokeObjectURL(old.url);
  $('results').replaceChildren();
  $('zip-links').replaceChildren();
  $('save-status').textContent = '';
}

function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined) made.textContent = text;
  return made;
}

// An output's blob: address, made when first wanted.
function urlFor(output) {
  output.url ??= URL.createObjectURL(output.blob);
  return output.url;
}

// A link that downloads `blob` from `url`; the link keeps the blob, so
// that what it hands over can be read back.
function pointAt(link, blob, url) {
  link.href = url;
  link.blob = blob;
  link.url = url;
}

const zoom = () => Number($('zoom').value);
const fit = (img) => { img.width = img.naturalWidth * zoom(); };

// What an image left, in the words of the command's manual.
const leftWords = {
  none: () => 'No output: this failure comes before the output is created.',
  empty: () => 'The output exists and is empty.',
  part: (o) => `The output holds everything copied before the damage (${o.size} bytes).`,
};

// The colours a rendering took, and why.
function colours(of, output) {
  if (output.clut === '!') return `none: ${output.why}`;
  const clut = output.clut === '-' ? 'the 128 default colours'
    : handed.clut && output.why === '--clut' ? output.clut : `${of.inDir}/${output.clut}`;
  if (output.why.startsWith('document ')) return `${clut}, as the document ${of.inDir}/${output.why.slice(9)} shows it`;
  return { folder: `${clut}, the CLUT of its folder`, '--clut': `${clut}, for every image` }[output.why] ?? clut;
}

function card(of, output) {
  const item = element('li', output.ok ? 'done' : 'failed');
  item.output = output;
  Object.assign(item.dataset, { left: output.left, clut: output.clut, why: output.why });
  item.append(element('div', 'name', output.who), element('div', 'line', output.line));
  if (output.stored !== `out/${output.output}` && output.left !== 'none') {
    item.append(element('div', 'note', `(stored as ${output.stored})`));
  }
  item.append(element('div', 'colours', `Colours: ${colours(of, output)}`));
  if (output.left !== 'whole') item.append(element('div', 'left', leftWords[output.left](output)));
  if (output.left === 'whole' || output.left === 'part') {
    if (output.ok) {
      const preview = element('div', 'preview');
      const img = element('img');
      img.alt = `${output.who} with its palette`;
      img.addEventListener('load', () => fit(img));
      preview.append(img);
      item.append(preview);
    }
    const link = element('a');
    link.href = '#';
    link.download = output.stored.split('/').pop();
    link.textContent = output.ok ? `Download ${link.download}` : `Download what was written of ${link.download}`;
    // However the link is used (click, keyboard, a context menu's "Save
    // link as"), it has its blob: address before it is followed.
    for (const type of ['click', 'contextmenu', 'focus', 'pointerenter']) {
      link.addEventListener(type, () => pointAt(link, output.blob, urlFor(output)));
    }
    item.append(link);
    nearScreen.observe(item);
  }
  return item;
}

// Draws the cards of the renderings done, in order, up to those shown,
// once the worker has handed over their outputs and lines. One drawing at
// a time.
async function drawCards(of, final) {
  if (of.drawing) {
    of.drawAgain = of.drawAgain || final || 'more';
    return;
  }
  of.drawing = true;
  const list = $('results');
  if (final) of.finalDrawn = true;
  let end = of.drawn;
  while (end < of.outputs.length && end < of.shown && end < of.drawn + 24 && of.outputs[end].done) end++;
  const batch = of.outputs.slice(of.drawn, end);
  const asked = batch.filter((o) => o.stored === undefined);
  const { cards } = asked.length ? await ask({ type: 'cards', run: of.id, indexes: asked.map((o) => o.index) })
    : { cards: [] };
  asked.forEach((o, i) => {
    const { line, blob, stored } = cards[i] ?? {};
    Object.assign(o, { line: o.line ?? line, blob, stored });
  });
  if (of === run) {
    document.getElementById('more')?.remove();
    const items = document.createDocumentFragment();
    for (const output of batch) items.append(card(of, output));
    of.drawn = end;
    list.append(items);
    if (of.drawn < of.outputs.length && of.drawn >= of.shown) {
      const more = element('li', 'more', `${of.outputs.length - of.drawn} more below`);
      more.id = 'more';
      list.append(more);
      nearScreen.observe(more);
    }
  }
  of.drawing = false;
  const more = of.drawn < of.outputs.length && of.drawn < of.shown && of.outputs[of.drawn].done;
  if (of.drawAgain || more) {
    const again = of.drawAgain === true;
    of.drawAgain = false;
    setTimeout(() => drawCards(of, again), 0);
  } else if (of.finalDrawn && of === run) {
    list.setAttribute('aria-busy', 'false');
  }
}

$('zoom').addEventListener('change', () => {
  for (const img of document.querySelectorAll('.preview img')) if (img.naturalWidth) fit(img);
});

// ---- Delivering: zips of one download each, or a folder the user picks.

const sizeText = (size) => (size < 2 ** 20 ? `${(size / 1024).toFixed(1)} KiB` : `${(size / 2 ** 20).toFixed(1)} MiB`);

$('download-all').addEventListener('click', async () => {
  const of = run;
  $('download-all').disabled = true;
  const { zips, tooLarge } = await ask({ type: 'zip', run: of.id, when: Date.now() });
  if (of !== run) return;
  const links = $('zip-links');
  links.replaceChildren();
  zips.forEach((zip, i) => {
    const name = zips.length === 1 ? 'palfill-out.zip' : `palfill-out-${i + 1}-of-${zips.length}.zip`;
    const link = element('a', 'zip', `${name} (${zip.count} files, ${sizeText(zip.blob.size)})`);
    link.download = name;
    pointAt(link, zip.blob, URL.createObjectURL(zip.blob));
    link.addEventListener('click', () => link.classList.add('taken'));
    const item = element('li');
    item.append(link);
    links.append(item);
  });
  if (tooLarge.length) {
    links.append(element('li', 'note', `Larger than one download, so in no zip: ${tooLarge.join(', ')}. ` +
      'Save each with its own link, or save into a folder.'));
  }
  $('download-all').disabled = false;
  // One zip downloads at once; several wait for a click each.
  if (zips.length === 1) links.querySelector('a').click();
});

$('save-folder').addEventListener('click', async () => {
  const of = run;
  let folder;
  try {
    folder = await window.showDirectoryPicker({ mode: 'readwrite', id: 'palfill-out' });
  } catch {
    return; // the choice was cancelled
  }
  $('save-folder').disabled = true;
  $('save-status').textContent = 'Saving…';
  const { results } = await ask({ type: 'save', run: of.id, folder });
  // A file there that palfill could not have written fails its image, as the command would.
  const refusedNow = new Set();
  for (const { index, line } of results) {
    if (line === null) continue;
    Object.assign(of.outputs[index], { line, ok: false });
    refusedNow.add(of.outputs[index]);
    of.converted--;
    of.failed++;
  }
  if (of === run) {
    for (const drawn of $('results').children) if (refusedNow.has(drawn.output)) drawn.replaceWith(card(of, drawn.output));
  }
  show(of, true);
  const { written } = await ask({ type: 'report', run: of.id, folder });
  const refused = results.filter((r) => r.line !== null).length;
  $('save-status').textContent = `Saved ${results.length - refused} files into ${folder.name}/out` +
    (written ? ', and failed.txt beside it.' : '; failed.txt there is not palfill\'s, so it is left alone.');
  $('save-folder').disabled = false;
});

// ---- Choosing and dropping.

const fromInput = (input) => [...input.files].map((file) => ({ source: file, path: file.webkitRelativePath || file.name }));
$('png-files').addEventListener('change', (event) => { handed.dropNote = ''; addFiles(fromInput(event.target)); });
$('png-folder').addEventListener('change', (event) => { handed.dropNote = ''; addFiles(fromInput(event.target)); });
$('clut-file').addEventListener('change', (event) => chooseClut(event.target.files[0] || null));
$('clear-clut').addEventListener('click', () => { $('clut-file').value = ''; chooseClut(null); });

// A dropped folder through its handle, subfolders included (Chromium, on
// file:// too); the worker reads the files.
async function walkHandle(handle, path, into) {
  if (handle.kind === 'file') {
    into.push({ path, source: handle });
    return;
  }
  for await (const child of handle.values()) await walkHandle(child, `${path}/${child.name}`, into);
}

// The same through the older entries, where there are no handles.
async function walkEntry(entry, into) {
  if (entry.isFile) {
    const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
    into.push({ path: entry.fullPath.replace(/^\//, ''), source: file });
  } else if (entry.isDirectory) {
    const reader = entry.createReader();
    for (;;) {
      const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
      if (batch.length === 0) break;
      for (const child of batch) await walkEntry(child, into);
    }
  }
}

// Whether `file` holds bytes to read: a folder handed over as a file does not.
async function readable(file) {
  try {
    await file.slice(0, 1).arrayBuffer();
    return true;
  } catch {
    return false;
  }
}

// Everything it can read of a drop; `unread` counts what it could not.
async function dropped(transfer) {
  const items = [...transfer.items].filter((item) => item.kind === 'file');
  const files = [...transfer.files];
  const got = [];
  let unread = 0;
  for (const [i, item] of items.entries()) {
    const file = files[i] ?? item.getAsFile();
    try {
      const handle = typeof item.getAsFileSystemHandle === 'function' ? await item.getAsFileSystemHandle() : null;
      if (handle) {
        await walkHandle(handle, handle.name, got);
        continue;
      }
      const entry = typeof item.webkitGetAsEntry === 'function' ? item.webkitGetAsEntry() : null;
      if (entry && entry.isDirectory) {
        await walkEntry(entry, got);
        continue;
      }
    } catch {
      // This engine does not let the page read it that way: as a plain file, if it is one.
    }
    if (file && await readable(file)) got.push({ path: file.name, source: file });
    else unread++;
  }
  return { got, unread };
}

const drop = $('drop');
drop.addEventListener('dragenter', (event) => event.preventDefault());
drop.addEventListener('dragover', (event) => { event.preventDefault(); drop.classList.add('over'); });
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', async (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  const { got, unread } = await dropped(event.dataTransfer);
  handed.dropNote = unread === 0 ? '' : `${unread === 1 ? 'One thing' : `${unread} things`} dropped could not be read ` +
    `here (a folder, most likely): choose ${canChooseFolders ? 'it with “A folder”' : 'its files with “PNG, CLUT and BML files”'} instead.`;
  addFiles(got);
});
drop.addEventListener('click', () => $('png-files').click());
drop.addEventListener('keydown', (event) => {
  if (event.key === 'Enter' || event.key === ' ') { event.preventDefault(); $('png-files').click(); }
});

run = { id: 0, outputs: [], notices: [], done: 0, converted: 0, failed: 0, nearing: [] };
$('status').textContent = 'No images yet.';
