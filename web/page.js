// The page: takes PNG files, folders and CLUT files, has each image
// converted as `palfill-tree CHOSEN out` converts it, and shows its line,
// the colours it took, what it left, a preview and a download; then zips
// every output, or writes them into a folder. The conversions and the zips
// run in a worker (worker.js, with the module and zip.js), so that this
// thread only keeps the page answering: it reads nothing itself. The
// page's model (page-model.js) stands above this in the built page.

const $ = (id) => document.getElementById(id);
const images = new Map(); // IN_PATH -> { source: File or file handle, rel: its path under out/ }
const folderCluts = new Map(); // folder -> { path, source } or { paths } (see handOverCluts)
let chosenClut = null; // { path, source } from the CLUT control: for every image
let outputs = []; // the last run's images, in the order of their paths (see convertAll)
let run = 0;
let dropNote = ''; // what could not be read of a drop, and what to choose instead
const withDropNote = (status) => (dropNote ? `${dropNote} ${status}` : status);
const shownAtOnce = 200; // cards drawn at a time, more as the list scrolls

const isClut = (name) => /\.clt$/i.test(name);
const isPng = (name) => /\.png$/i.test(name);

// Paths in the order palfill-tree prints them: by code point, as UTF-8
// bytes compare. UTF-16 units compare the same way but where a surrogate
// meets U+E000 to U+FFFF, which it must come after.
const unitOrder = (unit) => (unit >= 0xe000 ? unit - 0x800 : unit >= 0xd800 ? unit + 0x2000 : unit);
function byPath(a, b) {
  const length = Math.min(a.length, b.length);
  let i = 0;
  while (i < length && a.charCodeAt(i) === b.charCodeAt(i)) i++;
  if (i === length) return a.length - b.length;
  return unitOrder(a.charCodeAt(i)) - unitOrder(b.charCodeAt(i));
}

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
  else if (data.type === 'converted') received(data);
  else if (data.type === 'failed') $('status').textContent = `Something went wrong: ${data.message}`;
  else if (waiting.has(data.id)) {
    waiting.get(data.id)(data);
    waiting.delete(data.id);
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

// Files handed over at once ([{ path, source }]): when they all lie in one
// folder, that folder is what palfill-tree would be given, and their paths
// under out/ leave its name out.
function addFiles(entries) {
  const tops = new Set(entries.map((e) => (e.path.includes('/') ? e.path.split('/')[0] : '')));
  const chosenFolder = tops.size === 1 && !tops.has('') ? `${[...tops][0]}/` : '';
  const cluts = entries.filter((e) => isClut(e.path.split('/').pop()));
  handOverCluts(folderCluts, cluts.map((e) => ({ path: e.path, source: e.source })));
  for (const { path, source } of entries) {
    if (isPng(path.split('/').pop())) images.set(path, { source, rel: path.slice(chosenFolder.length) });
  }
  convertAll();
}

function chooseClut(file) {
  chosenClut = file ? { path: file.name, source: file } : null;
  $('clear-clut').disabled = !chosenClut;
  convertAll();
}

// The CLUT's own failure, as the command would print it, or '' when usable.
async function clutProblem(clut) {
  const bytes = await bytesOf(clut.source);
  return (await ask({ type: 'clut', clut: { path: clut.path, bytes } })).line;
}

async function showColours() {
  const mine = run;
  const lines = [];
  if (chosenClut) {
    const problem = await clutProblem(chosenClut);
    lines.push(problem ? `Colours: ${chosenClut.path} cannot be used: ${problem}`
      : `Colours: ${chosenClut.path}, for every image.`);
  } else if (folderCluts.size === 0) {
    lines.push('Colours: the 128 default colours.');
  } else {
    lines.push('Colours: each image takes the CLUT file of its folder, or of the nearest folder above; ' +
      'without one, the 128 default colours.');
    for (const [folder, clut] of [...folderCluts].sort(([a], [b]) => byPath(a, b))) {
      if (clut.paths) {
        lines.push(`Error : More than one CLUT file in ${folderName(folder)} (${clut.paths.join(', ')})`);
        continue;
      }
      const problem = await clutProblem(clut);
      lines.push(problem ? `${clut.path} cannot be used: ${problem}` : `${clut.path} for ${folderName(folder)}`);
    }
  }
  if (mine === run) $('clut-status').textContent = lines.join('\n');
}

// ---- Converting.

// A file's bytes, read without holding the page up (a File, or a file
// handle read now), or null when it can no longer be read: changed or gone
// since it was chosen.
async function bytesOf(source) {
  try {
    const file = typeof source.getFile === 'function' ? await source.getFile() : source;
    return await file.arrayBuffer();
  } catch {
    return null;
  }
}

const inFlight = 16; // images read ahead of the worker, at most
const pause = () => new Promise((resolve) => setTimeout(resolve, 0));

// Converts every image with its colours. The worker gets the plan in
// parts, so that no part keeps the page busy, then each image's bytes
// when its turn comes: read here, a few ahead, and handed over without a
// copy. Every image ends with an output or a failure line.
async function convertAll() {
  const mine = ++run;
  // Until this run draws its own, the counts and cards on the page are the
  // last run's: say so to the reader and to assistive technology.
  finalDrawn = false;
  $('results').setAttribute('aria-busy', 'true');
  $('status').textContent = withDropNote(`Converting: 0 of ${images.size}.`);
  showColours();
  const paths = [...images.keys()].sort(byPath);
  await pause();
  if (mine !== run) return;
  const cluts = [];
  const clutIndex = new Map();
  const plan = (path, id) => {
    const { clut, ambiguous } = clutFor(path, chosenClut, folderCluts);
    const output = { id, path, rel: images.get(path).rel, done: false, ok: false, left: 'none',
      clutPath: clut ? clut.path : null, colours: clut ? clut.path : 'the default colours' };
    if (ambiguous !== undefined) {
      output.ambiguous = folderName(ambiguous);
      output.colours = `more than one CLUT file in ${folderName(ambiguous)}`;
    }
    if (clut && !clutIndex.has(clut)) {
      clutIndex.set(clut, cluts.length);
      cluts.push(clut);
    }
    output.clut = clut ? clutIndex.get(clut) : -1;
    return output;
  };
  // In parts, so that no part keeps the page busy for long.
  const planned = [];
  for (let from = 0; from < paths.length; from += 5000) {
    planned.push(...paths.slice(from, from + 5000).map((path, i) => plan(path, from + i)));
    await pause();
    if (mine !== run) return;
  }
  outputs = planned;
  for (const old of document.querySelectorAll('#results a')) if (old.url) URL.revokeObjectURL(old.url);
  resetList();
  nearing.length = 0;
  doneCount = 0;
  feeder = null;
  const clutBytes = await Promise.all(cluts.map((clut) => bytesOf(clut.source)));
  if (mine !== run) return;
  for (let from = 0; from < outputs.length || from === 0; from += 1000) {
    if (from > 0) await pause();
    if (mine !== run) return;
    const jobs = outputs.slice(from, from + 1000).map((o) => ({
      id: o.id, path: o.path, outPath: `out/${o.rel}`, clut: o.clut,
      ...(o.ambiguous !== undefined ? { ambiguous: o.ambiguous } : {}),
    }));
    const first = from === 0 ? cluts.map((clut, i) => ({ path: clut.path, bytes: clutBytes[i] })) : undefined;
    worker.postMessage({ type: 'convert', run: mine, cluts: first, jobs, last: from + 1000 >= outputs.length });
  }
  feeder = { run: mine, next: 0, busy: false };
  feed();
}

// Reads the images in order and hands their bytes over, never more than
// `inFlight` ahead of the results.
let feeder = null; // { run, next, busy }
let doneCount = 0;
function feed() {
  const f = feeder;
  if (f === null || f.busy) return;
  f.busy = true;
  (async () => {
    while (f === feeder && f.next < outputs.length && f.next - doneCount < inFlight) {
      const output = outputs[f.next++];
      if (output.ambiguous !== undefined) continue;
      const bytes = await bytesOf(images.get(output.path).source);
      if (f !== feeder) return;
      worker.postMessage({ type: 'image', run: f.run, id: output.id, bytes }, bytes ? [bytes] : []);
    }
  })().finally(() => { f.busy = false; });
}

function received({ run: of, results, last }) {
  if (of !== run) return;
  for (const result of results) Object.assign(outputs[result.id], result, { done: true });
  doneCount += results.length;
  feed();
  if (last) {
    // Names in the zip and the folder, for the outputs there are.
    const stored = outputs.filter((o) => o.left !== 'none');
    storedNames(stored.map((o) => o.rel)).forEach((name, i) => { stored[i].stored = name; });
  }
  showSoon(last);
}

// ---- Showing.

let showing = null;
function showSoon(now) {
  if (now) {
    clearTimeout(showing);
    showing = null;
    show(true);
  } else if (showing === null) {
    showing = setTimeout(() => { showing = null; show(false); }, 100);
  }
}

const counts = () => {
  const done = outputs.filter((o) => o.done);
  const converted = done.filter((o) => o.ok).length;
  return { done: done.length, converted, failed: done.length - converted };
};

// The notes after an output's line: its colours (failed.txt alone; a card
// shows them apart), where the zip and the folder keep it.
function notes(output, withColours) {
  const said = [];
  if (withColours && output.clutPath) said.push(`colours: ${output.clutPath}`);
  if (output.stored && output.stored !== `out/${output.rel}`) said.push(`stored as ${output.stored}`);
  return said.map((s) => ` (${s})`).join('');
}

const failedLines = () => outputs.filter((o) => o.done && !o.ok)
  .map((o) => `${o.path}: ${o.line}${notes(o, true)}\n`).join('');

// The folder palfill-tree would have been given: the one every image lies in, or '.'.
function inDir() {
  const tops = new Set(outputs.map((o) => o.path.slice(0, Math.max(0, o.path.length - o.rel.length - 1))));
  return tops.size === 1 && !tops.has('') ? [...tops][0] : '.';
}

function show(final) {
  const { done, converted, failed } = counts();
  const all = outputs.length;
  $('progress').hidden = final || all === 0;
  $('progress').max = all;
  $('progress').value = done;
  const count = `${converted} converted, ${failed} failed`;
  $('status').textContent = all === 0 && !dropNote ? 'No images yet.'
    : withDropNote(final ? `${count}.` : `Converting: ${done} of ${all} (${count}).`);
  $('failures').hidden = failed === 0;
  $('failed-list').textContent = failedLines();
  $('download-all').disabled = !final || all === 0;
  $('save-folder').disabled = !final || all === 0;
  drawCards(final);
}

// Items near the screen get their preview and their link's address, a few
// at a time: each blob: address takes the browser a moment to make.
const nearing = [];
function showNear() {
  for (const target of nearing.splice(0, 16)) {
    const { output } = target;
    const img = target.querySelector('img');
    if (img) img.src = urlFor(output);
    const link = target.querySelector('a');
    if (link) pointAt(link, output.blob, urlFor(output));
  }
  if (nearing.length) setTimeout(showNear, 0);
}

const nearScreen = new IntersectionObserver((entries) => {
  const wasIdle = nearing.length === 0;
  for (const entry of entries) {
    if (!entry.isIntersecting) continue;
    if (entry.target.id === 'more') {
      shown += shownAtOnce;
      drawCards(false);
      continue;
    }
    nearScreen.unobserve(entry.target);
    nearing.push(entry.target);
  }
  if (wasIdle && nearing.length) setTimeout(showNear, 0);
}, { rootMargin: '400px' });

let shown = shownAtOnce;
let drawn = 0;

function resetList() {
  nearScreen.disconnect();
  $('results').replaceChildren();
  $('zip-links').replaceChildren();
  $('save-status').textContent = '';
  shown = shownAtOnce;
  drawn = 0;
  show(false);
}

function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined) made.textContent = text;
  return made;
}

// An output's blob: address, made when first wanted: making them for each
// of a thousand images up front costs more than converting them.
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

function card(output) {
  const item = element('li', output.ok ? 'done' : 'failed');
  item.output = output;
  item.append(element('div', 'name', output.path), element('div', 'line', output.line));
  const said = notes(output, false);
  if (said) item.append(element('div', 'note', said.trim()));
  item.append(element('div', 'colours', `Colours: ${output.colours}`));
  if (output.left !== 'whole') item.append(element('div', 'left', leftWords[output.left](output)));
  if (output.left === 'whole' || output.left === 'part') {
    if (output.ok) {
      const preview = element('div', 'preview');
      const img = element('img');
      img.alt = `${output.path} with its palette`;
      img.addEventListener('load', () => fit(img));
      preview.append(img);
      item.append(preview);
    }
    const link = element('a');
    link.href = '#';
    link.download = (output.stored ?? `out/${output.rel}`).split('/').pop();
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

// Draws the cards of the images done, in order, up to those shown, once
// the worker has handed over their outputs; at the end, the cards drawn
// again with where the zip keeps each. One drawing at a time.
let drawing = false;
let drawAgain = false;
let finalDrawn = false; // the run's last drawing has begun
async function drawCards(final) {
  if (drawing) {
    drawAgain = drawAgain || final || 'more';
    return;
  }
  drawing = true;
  const mine = run;
  const list = $('results');
  if (final) {
    finalDrawn = true;
    for (const item of list.querySelectorAll('li:not(#more)')) item.replaceWith(card(item.output));
  }
  // A few cards at a time: each Blob handed over takes the browser a moment.
  let end = drawn;
  while (end < outputs.length && end < shown && end < drawn + 24 && outputs[end].done) end++;
  const batch = outputs.slice(drawn, end);
  const wanted = batch.filter((o) => o.left !== 'none' && !o.blob);
  if (wanted.length) {
    const { blobs } = await ask({ type: 'blobs', run: mine, ids: wanted.map((o) => o.id) });
    wanted.forEach((o, i) => { o.blob = blobs[i]; });
  }
  if (mine === run) {
    document.getElementById('more')?.remove();
    const items = document.createDocumentFragment();
    for (const output of batch) items.append(card(output));
    drawn = end;
    list.append(items);
    if (drawn < outputs.length && drawn >= shown) {
      const more = element('li', 'more', `${outputs.length - drawn} more below`);
      more.id = 'more';
      list.append(more);
      nearScreen.observe(more);
    }
  }
  drawing = false;
  const more = drawn < outputs.length && drawn < shown && outputs[drawn].done;
  if (drawAgain || more) {
    const again = drawAgain === true;
    drawAgain = false;
    setTimeout(() => drawCards(again), 0);
  } else if (finalDrawn && mine === run) {
    list.setAttribute('aria-busy', 'false');
  }
}

$('zoom').addEventListener('change', () => {
  for (const img of document.querySelectorAll('.preview img')) if (img.naturalWidth) fit(img);
});

// ---- Delivering: zips of one download each, or a folder the user picks.

const sizeText = (size) => (size < 2 ** 20 ? `${(size / 1024).toFixed(1)} KiB` : `${(size / 2 ** 20).toFixed(1)} MiB`);

function failedReport() {
  const { converted, failed } = counts();
  return { lines: failedLines(), inDir: inDir(), outDir: 'out', converted, failed };
}

const stored = () => outputs.filter((o) => o.left !== 'none');

$('download-all').addEventListener('click', async () => {
  $('download-all').disabled = true;
  const entries = stored().map((o) => ({ id: o.id, name: o.stored }));
  // The tests make the limit small, to see an archive past one download.
  const limit = window.palfillZipLimit ?? 240 * 1024 * 1024;
  const { zips, tooLarge } = await ask({ type: 'zip', run, entries, failed: failedReport(), when: Date.now(), limit });
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
  let folder;
  try {
    folder = await window.showDirectoryPicker({ mode: 'readwrite', id: 'palfill-out' });
  } catch {
    return; // the choice was cancelled
  }
  $('save-folder').disabled = true;
  $('save-status').textContent = 'Saving…';
  const kept = stored();
  const { results } = await ask({ type: 'save', run, folder,
    entries: kept.map((o) => ({ id: o.id, name: o.stored, path: o.path })) });
  // A file there that palfill could not have written fails its image, as the command would.
  for (const { id, line } of results) {
    if (line !== null) Object.assign(outputs[id], { line, ok: false });
  }
  show(true);
  const { written } = await ask({ type: 'report', folder, failed: failedReport() });
  const refused = results.filter((r) => r.line !== null).length;
  $('save-status').textContent = `Saved ${kept.length - refused} files into ${folder.name}/out` +
    (written ? ', and failed.txt beside it.' : '; failed.txt there is not palfill\'s, so it is left alone.');
  $('save-folder').disabled = false;
});

// ---- Choosing and dropping.

const fromInput = (input) => [...input.files].map((file) => ({ source: file, path: file.webkitRelativePath || file.name }));
$('png-files').addEventListener('change', (event) => { dropNote = ''; addFiles(fromInput(event.target)); });
$('png-folder').addEventListener('change', (event) => { dropNote = ''; addFiles(fromInput(event.target)); });
$('clut-file').addEventListener('change', (event) => chooseClut(event.target.files[0] || null));
$('clear-clut').addEventListener('click', () => { $('clut-file').value = ''; chooseClut(null); });

// A dropped folder through its handle, subfolders included (Chromium, on
// file:// too); files are read when their turn comes.
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
  dropNote = unread === 0 ? '' : `${unread === 1 ? 'One thing' : `${unread} things`} dropped could not be read ` +
    `here (a folder, most likely): choose ${canChooseFolders ? 'it with “A folder”' : 'its files with “PNG and CLUT files”'} instead.`;
  addFiles(got);
});
drop.addEventListener('click', () => $('png-files').click());
drop.addEventListener('keydown', (event) => {
  if (event.key === 'Enter' || event.key === ' ') { event.preventDefault(); $('png-files').click(); }
});

show(false);
