// The page: takes PNG files, folders and CLUT files, converts each image as
// `palfill IN [CLUT] out/IN` would, and shows its line, the colours it
// took, a preview and a download; zips every output. The module's convert,
// crc32 and version and the page's model (page-model.js) stand above this
// in the built page.

const $ = (id) => document.getElementById(id);
const images = new Map(); // relative path -> File
const folderCluts = new Map(); // folder -> { path, file } or { paths } (see handOverCluts)
let chosenClut = null; // { path, file } from the CLUT control: for every image
let outputs = []; // what the last run left (see convertAll)
let run = 0;

const isClut = (name) => /\.clt$/i.test(name);
const isPng = (name) => /\.png$/i.test(name);

// What this browser can hand over. Where it cannot choose folders, the page
// says so and offers files (and a dropped folder, where that works).
const canChooseFolders = 'webkitdirectory' in HTMLInputElement.prototype;
const canDropFolders = typeof DataTransferItem !== 'undefined' &&
  'webkitGetAsEntry' in DataTransferItem.prototype;
if (!canChooseFolders) {
  $('folder-choice').hidden = true;
  $('folder-note').hidden = false;
  $('folder-note').textContent = 'This browser cannot choose folders: choose the PNG files and their ' +
    `CLUT file instead${canDropFolders ? ', or drop the folder here' : ''}.`;
}

// A file's bytes, or null when it can no longer be read (changed or gone
// since it was chosen).
async function bytesOf(file) {
  try {
    return new Uint8Array(await file.arrayBuffer());
  } catch {
    return null;
  }
}

// The CLUT's own failure, as the command would print it, or '' when it is
// usable: a conversion of nothing reads the CLUT and stops at the PNG.
async function clutProblem(clut) {
  const bytes = await bytesOf(clut.file);
  if (bytes === null) return `Error : Can't open file ${clut.path}`;
  const { result } = convert(new Uint8Array(0), bytes);
  return leavesOutput(result) ? '' : lineFor(result, '', '', clut.path);
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
    for (const [folder, clut] of [...folderCluts].sort(([a], [b]) => a.localeCompare(b))) {
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

function addFiles(entries) { // [{ file, path }], from one choice or one drop
  handOverCluts(folderCluts, entries.filter((e) => isClut(e.file.name)));
  for (const { file, path } of entries) if (isPng(file.name)) images.set(path, file);
  convertAll();
}

function chooseClut(file) {
  chosenClut = file ? { path: file.name, file } : null;
  $('clear-clut').disabled = !chosenClut;
  convertAll();
}

// Converts every image with its colours. Every image ends with an output
// or a failure line, whatever cannot be read.
async function convertAll() {
  const mine = ++run;
  showColours();
  const paths = [...images.keys()].sort();
  const plans = paths.map((path) => clutFor(path, chosenClut, folderCluts));
  const clutFiles = [...new Set(plans.map((p) => p.clut).filter(Boolean))];
  // Read all at once: one by one, the reads' round trips outweigh the conversions.
  const [pngs, clutBytes] = await Promise.all([
    Promise.all(paths.map((path) => bytesOf(images.get(path)))),
    Promise.all(clutFiles.map((clut) => bytesOf(clut.file))),
  ]);
  if (mine !== run) return; // a newer run took over
  const cluts = new Map(clutFiles.map((clut, i) => [clut, clutBytes[i]]));
  const done = paths.map((path, i) => {
    const { clut, ambiguous } = plans[i];
    const outPath = `out/${path}`;
    const output = { path, outPath, clutPath: clut ? clut.path : null, bytes: null, ok: false };
    output.colours = clut ? clut.path : 'the default colours';
    if (ambiguous !== undefined) {
      output.line = `Error : More than one CLUT file in ${folderName(ambiguous)}`;
      output.colours = `more than one CLUT file in ${folderName(ambiguous)}`;
    } else if (clut && cluts.get(clut) === null) {
      output.line = `Error : Can't open file ${clut.path}`;
    } else if (pngs[i] === null) {
      output.line = `Error : Can't open file ${path}`;
    } else {
      const { result, bytes } = convert(pngs[i], clut ? cluts.get(clut) : undefined);
      output.line = lineFor(result, path, outPath, clut && clut.path);
      output.ok = result === 'finished';
      if (leavesOutput(result)) output.bytes = bytes;
    }
    return output;
  });
  const stored = done.filter((o) => o.bytes !== null);
  storedNames(stored.map((o) => o.path)).forEach((name, i) => { stored[i].stored = name; });
  for (const old of outputs) if (old.url) URL.revokeObjectURL(old.url);
  outputs = done;
  render();
}

// The notes after an output's line: its colours (failed.txt alone; a card
// shows them apart), where the zip keeps it.
function notes(output, withColours) {
  const said = [];
  if (withColours && output.clutPath) said.push(`colours: ${output.clutPath}`);
  if (output.stored && output.stored !== output.outPath) said.push(`stored as ${output.stored}`);
  return said.map((s) => ` (${s})`).join('');
}

// An output's blob: and its address, made when first wanted: making them
// for each of a thousand images up front costs more than converting them.
function urlFor(output) {
  output.blob ??= new Blob([output.bytes], { type: 'image/png' });
  output.url ??= URL.createObjectURL(output.blob);
  return output.url;
}

// A link that downloads `blob` from `url`; the link keeps the blob, so
// that what it hands over can be read back.
function pointAt(link, blob, url) {
  link.href = url;
  link.blob = blob;
}

function pointAtOutput(link, output) {
  const url = urlFor(output);
  pointAt(link, output.blob, url);
}

const zoom = () => Number($('zoom').value);
const fit = (img) => { img.width = img.naturalWidth * zoom(); };

// Items near the screen get their preview and their link's address.
const nearScreen = new IntersectionObserver((entries) => {
  for (const entry of entries) {
    if (!entry.isIntersecting) continue;
    nearScreen.unobserve(entry.target);
    const { output } = entry.target;
    const img = entry.target.querySelector('img');
    if (img) img.src = urlFor(output);
    pointAtOutput(entry.target.querySelector('a'), output);
  }
}, { rootMargin: '400px' });

function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined) made.textContent = text;
  return made;
}

function render() {
  const items = document.createDocumentFragment();
  nearScreen.disconnect();
  for (const output of outputs) {
    const item = element('li', output.ok ? 'done' : 'failed');
    item.output = output;
    item.append(element('div', 'name', output.path), element('div', 'line', output.line));
    const said = notes(output, false);
    if (said) item.append(element('div', 'note', said.trim()));
    item.append(element('div', 'colours', `Colours: ${output.colours}`));
    if (output.bytes === null || output.bytes.length === 0) {
      item.append(element('div', 'nothing', 'Nothing was written.'));
    } else {
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
      link.download = output.stored.split('/').pop();
      link.textContent = output.ok ? `Download ${link.download}` : `Download what was written of ${link.download}`;
      // However the link is used (click, keyboard, a context menu's "Save
      // link as"), it has its blob: address before it is followed.
      for (const type of ['click', 'contextmenu', 'focus', 'pointerenter']) {
        link.addEventListener(type, () => pointAtOutput(link, output));
      }
      item.append(link);
      nearScreen.observe(item);
    }
    items.append(item);
  }
  $('results').replaceChildren(items);
  const failed = outputs.filter((o) => !o.ok);
  $('failures').hidden = failed.length === 0;
  $('failed-list').textContent = failed.map((o) => `${o.path}: ${o.line}${notes(o, true)}\n`).join('');
  $('download-all').disabled = outputs.length === 0;
  $('zip-link').hidden = true;
  $('status').textContent = `${outputs.length} images done, ${failed.length} failed.`;
}

$('zoom').addEventListener('change', () => {
  for (const img of document.querySelectorAll('.preview img')) if (img.naturalWidth) fit(img);
});

$('download-all').addEventListener('click', () => {
  const files = outputs.filter((o) => o.bytes).map((o) => ({ name: o.stored, bytes: o.bytes }));
  const failed = $('failed-list').textContent;
  if (failed) files.push({ name: 'failed.txt', bytes: new TextEncoder().encode(failed) });
  let blob;
  try {
    blob = new Blob(zipParts(files, crc32, new Date()), { type: 'application/zip' });
  } catch (error) {
    $('status').textContent = error.message;
    return;
  }
  const link = $('zip-link');
  if (link.blob) URL.revokeObjectURL(link.href);
  pointAt(link, blob, URL.createObjectURL(blob));
  const size = blob.size < 2 ** 20 ? `${(blob.size / 1024).toFixed(1)} KiB` : `${(blob.size / 2 ** 20).toFixed(1)} MiB`;
  link.textContent = `palfill-out.zip (${size}): save it again`;
  link.hidden = false;
  link.click();
});

const fromInput = (input) => [...input.files].map((file) => ({ file, path: file.webkitRelativePath || file.name }));
$('png-files').addEventListener('change', (event) => addFiles(fromInput(event.target)));
$('png-folder').addEventListener('change', (event) => addFiles(fromInput(event.target)));
$('clut-file').addEventListener('change', (event) => chooseClut(event.target.files[0] || null));
$('clear-clut').addEventListener('click', () => { $('clut-file').value = ''; chooseClut(null); });

// Dropped folders are walked with their subfolders.
async function walk(entry, into) {
  if (entry.isFile) {
    const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
    into.push({ file, path: entry.fullPath.replace(/^\//, '') });
  } else if (entry.isDirectory) {
    const reader = entry.createReader();
    for (;;) {
      const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
      if (batch.length === 0) break;
      for (const child of batch) await walk(child, into);
    }
  }
}

const drop = $('drop');
drop.addEventListener('dragover', (event) => { event.preventDefault(); drop.classList.add('over'); });
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', async (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  if (!canDropFolders) {
    addFiles([...event.dataTransfer.files].map((file) => ({ file, path: file.name })));
    return;
  }
  const entries = [...event.dataTransfer.items].map((item) => item.webkitGetAsEntry()).filter(Boolean);
  const files = [];
  try {
    for (const entry of entries) await walk(entry, files);
  } catch {
    $('status').textContent = 'Part of what was dropped could not be read; choose it instead.';
  }
  addFiles(files);
});
drop.addEventListener('click', () => $('png-files').click());
drop.addEventListener('keydown', (event) => {
  if (event.key === 'Enter' || event.key === ' ') { event.preventDefault(); $('png-files').click(); }
});

$('version').textContent = version;
