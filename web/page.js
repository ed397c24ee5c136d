// The page: takes PNG files, folders and a CLUT file, converts each image
// as `palfill IN [CLUT] out/IN` would, and shows its line, a preview and a
// download; zips every output. The module's convert, crc32 and version
// stand above this in the built page.

const $ = (id) => document.getElementById(id);
const images = new Map(); // path -> File
let clut = null; // { name, bytes } or null for the default colours
let outputs = []; // what the last run left: { path, line, ok, bytes, url }
let run = 0;

const isClut = (name) => /\.clt$/i.test(name);
const isPng = (name) => /\.png$/i.test(name);

// The line the command prints for this image.
function lineFor(result, inPath, outPath) {
  switch (result) {
    case 'finished': return `Finished ${inPath} -> ${outPath}`;
    case 'not_png': return 'Error : Not a PNG format';
    case 'unexpected_eof':
    case 'clut_unexpected_eof': return 'Error : Unexpected EOF';
    case 'unknown_depth': return 'Error : Unknown depth (3)';
    case 'not_a_clut': return `Error : Not a CLUT file ${clut.name}`;
    default: return 'Error : Chunk too large to buffer';
  }
}

// A CLUT failure ends the command before it creates the output.
const leavesOutput = (result) => !['clut_unexpected_eof', 'unknown_depth', 'not_a_clut'].includes(result);

function addFiles(entries) { // [{ file, path }]
  let added = 0;
  for (const { file, path } of entries) {
    if (isClut(file.name)) {
      setClut(file);
    } else if (isPng(file.name)) {
      images.set(path, file);
      added++;
    }
  }
  if (added > 0 || entries.some((e) => isClut(e.file.name))) convertAll();
}

async function setClut(file) {
  clut = file ? { name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) } : null;
  $('clut-status').textContent = clut ? `Colours: ${clut.name}, over the default colours.`
    : 'Colours: the 128 default colours.';
  $('clear-clut').disabled = !clut;
  convertAll();
}

async function convertAll() {
  const mine = ++run;
  const paths = [...images.keys()].sort();
  // Read all at once: one by one, the reads' round trips outweigh the conversions.
  const inputs = await Promise.all(paths.map((path) => images.get(path).arrayBuffer()));
  if (mine !== run) return; // a newer run took over
  const done = [];
  for (const [i, path] of paths.entries()) {
    const png = new Uint8Array(inputs[i]);
    const { result, bytes } = convert(png, clut ? clut.bytes : undefined);
    const outPath = `out/${path}`;
    done.push({ path, outPath, result, line: lineFor(result, path, outPath), ok: result === 'finished',
      bytes: leavesOutput(result) ? bytes : null });
  }
  for (const old of outputs) if (old.url) URL.revokeObjectURL(old.url);
  outputs = done;
  render();
}

// An output's blob: URL, made when it is first wanted: making one for each
// of a thousand images up front costs more than converting them.
function urlFor(output) {
  output.url ??= URL.createObjectURL(new Blob([output.bytes], { type: 'image/png' }));
  return output.url;
}

// Items near the screen get their preview and their link's address.
const nearScreen = new IntersectionObserver((entries) => {
  for (const entry of entries) {
    if (!entry.isIntersecting) continue;
    nearScreen.unobserve(entry.target);
    const { output } = entry.target;
    const img = entry.target.querySelector('img');
    if (img) img.src = urlFor(output);
    entry.target.querySelector('a').href = urlFor(output);
  }
}, { rootMargin: '400px' });

function render() {
  const list = $('results');
  const zoom = Number($('zoom').value);
  const items = document.createDocumentFragment();
  nearScreen.disconnect();
  for (const output of outputs) {
    const item = document.createElement('li');
    item.output = output;
    item.className = output.ok ? 'done' : 'failed';
    const name = document.createElement('div');
    name.className = 'name';
    name.textContent = output.path;
    const line = document.createElement('div');
    line.className = 'line';
    line.textContent = output.line;
    item.append(name, line);
    if (output.bytes) {
      if (output.ok) {
        const preview = document.createElement('div');
        preview.className = 'preview';
        const img = document.createElement('img');
        img.alt = `${output.path} with its palette`;
        img.addEventListener('load', () => { img.width = img.naturalWidth * zoom; });
        preview.append(img);
        item.append(preview);
      }
      const link = document.createElement('a');
      link.href = '#';
      link.download = output.path.split('/').pop();
      link.textContent = output.ok ? `Download ${link.download}` : `Download what was written of ${link.download}`;
      // However the link is used (click, keyboard, a context menu's "Save
      // link as"), it has its blob: address before it is followed.
      for (const type of ['click', 'contextmenu', 'focus', 'pointerenter']) {
        link.addEventListener(type, () => { link.href = urlFor(output); });
      }
      item.append(link);
      nearScreen.observe(item);
    }
    items.append(item);
  }
  list.replaceChildren(items);
  const failed = outputs.filter((o) => !o.ok);
  $('failures').hidden = failed.length === 0;
  $('failed-list').textContent = failed.map((o) => `${o.path}: ${o.line}\n`).join('');
  $('download-all').disabled = outputs.length === 0;
  $('status').textContent = `${outputs.length} images done, ${failed.length} failed.`;
}

$('zoom').addEventListener('change', () => {
  const zoom = Number($('zoom').value);
  for (const img of document.querySelectorAll('.preview img')) img.width = img.naturalWidth * zoom;
});

// A zip of stored (uncompressed) files: every output under out/, and
// failed.txt when something failed.
function zip(files) { // [{ name, bytes }]
  const encoder = new TextEncoder();
  const parts = [];
  const central = [];
  let offset = 0;
  const header = (size) => { const b = new Uint8Array(size); return [b, new DataView(b.buffer)]; };
  for (const file of files) {
    const name = encoder.encode(file.name);
    const crc = crc32(file.bytes);
    const [local, l] = header(30);
    l.setUint32(0, 0x04034b50, true);
    l.setUint16(4, 20, true);
    l.setUint16(6, 0x0800, true); // names in UTF-8
    l.setUint16(10, 0, true);
    l.setUint16(12, 0x21, true); // 1980-01-01
    l.setUint32(14, crc, true);
    l.setUint32(18, file.bytes.length, true);
    l.setUint32(22, file.bytes.length, true);
    l.setUint16(26, name.length, true);
    const [entry, c] = header(46);
    c.setUint32(0, 0x02014b50, true);
    c.setUint16(4, 20, true);
    c.setUint16(6, 20, true);
    c.setUint16(8, 0x0800, true);
    c.setUint16(14, 0x21, true);
    c.setUint32(16, crc, true);
    c.setUint32(20, file.bytes.length, true);
    c.setUint32(24, file.bytes.length, true);
    c.setUint16(28, name.length, true);
    c.setUint32(42, offset, true);
    parts.push(local, name, file.bytes);
    central.push(entry, name);
    offset += 30 + name.length + file.bytes.length;
  }
  const centralSize = central.reduce((sum, b) => sum + b.length, 0);
  const [end, e] = header(22);
  e.setUint32(0, 0x06054b50, true);
  e.setUint16(8, files.length, true);
  e.setUint16(10, files.length, true);
  e.setUint32(12, centralSize, true);
  e.setUint32(16, offset, true);
  if (offset + centralSize >= 2 ** 32 || files.length >= 2 ** 16) {
    throw new RangeError('too much for one zip: download the images one by one');
  }
  return new Blob([...parts, ...central, end], { type: 'application/zip' });
}

$('download-all').addEventListener('click', () => {
  const files = outputs.filter((o) => o.bytes).map((o) => ({ name: o.outPath, bytes: o.bytes }));
  const failed = $('failed-list').textContent;
  if (failed) files.push({ name: 'failed.txt', bytes: new TextEncoder().encode(failed) });
  let blob;
  try {
    blob = zip(files);
  } catch (error) {
    $('status').textContent = error.message;
    return;
  }
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = 'palfill-out.zip';
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
});

const fromInput = (input) => [...input.files].map((file) => ({ file, path: file.webkitRelativePath || file.name }));
$('png-files').addEventListener('change', (event) => addFiles(fromInput(event.target)));
$('png-folder').addEventListener('change', (event) => addFiles(fromInput(event.target)));
$('clut-file').addEventListener('change', (event) => setClut(event.target.files[0] || null));
$('clear-clut').addEventListener('click', () => { $('clut-file').value = ''; setClut(null); });

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
  const entries = [...event.dataTransfer.items].map((item) => item.webkitGetAsEntry()).filter(Boolean);
  const files = [];
  for (const entry of entries) await walk(entry, files);
  addFiles(files);
});
drop.addEventListener('click', () => $('png-files').click());
drop.addEventListener('keydown', (event) => {
  if (event.key === 'Enter' || event.key === ' ') { event.preventDefault(); $('png-files').click(); }
});

$('version').textContent = version;
