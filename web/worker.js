// The page's worker: everything that takes time, off the page's thread
// but reading, which the page does as a blank page would: it hands over the
// tree's paths, then the bytes of its documents and sheets, of the CLUTs
// the plan names and of the images, a few at a time, without a copy. Here
// the tree is planned with the page's module (page-module.js: palfill-tree's
// own planner), each image converted as it arrives, and the outputs kept
// packed in a few large Blobs, which are sliced for the page, zipped
// (zip.js) or written into a folder the user picked. Every line given is
// palfill-tree's, from palfill-tree's own code in the module.
//
// In:  { type: 'tree', run, inDir, given, paths }    the tree's files, by path
//      { type: 'documents', run, files }      the documents' and sheets' bytes (null: unreadable)
//      { type: 'cluts', run, files }          the bytes of the CLUTs the plan names
//      { type: 'images', run, files }         images' bytes, a few at a time, in any order
//      { type: 'cards', id, run, indexes }   -> { type: 'cards', id, cards: [{ line, blob, stored }] }
//      { type: 'zip', id, run, when }        -> { type: 'zipped', id, zips, tooLarge }
//      { type: 'save', id, run, folder }     -> { type: 'saved', id, results }
//      { type: 'report', id, run, folder }   -> { type: 'reported', id, written }
// Out: { type: 'ready', version }
//      { type: 'planned', run, outputs, notices, images, cluts }
//      { type: 'clutLine', run, line }             the failure of the CLUT for every image, or ''
//      { type: 'converted', run, results, imagesDone, bytesDone }  a few at a time, in any order
//      { type: 'finished', run }
// A run is replaced whole by a newer one; what is sent for an older one,
// or asked of it, gets nothing.
import {
  cantOpenLine, convertForPage, crcOf, isTreeReport, leftBy, loadClut, loadPageModule, mayReplace,
  notPngOutputLine, planTree, resultLine, summaryLine, versionOf, withoutControls,
} from './page-module.js';
import { byPath, storedNamer } from './names.js';
import { pageWasmBase64 } from './page-wasm.js';
import { splitIntoZips, zipBlob } from './zip.js';
import { zipLimit } from './zip-limit.js';

const module = loadPageModule(pageWasmBase64);
const packSize = 4 * 1024 * 1024; // outputs gathered into Blobs of about this

let current = null;

// Where a path relative to the tree lies, as palfill-tree names it.
const inTree = (run, path) => `${run.inDir}/${path}`;

function tree({ run, inDir, given, paths }) {
  if (current !== null && run <= current.id) return;
  current = {
    id: run, inDir, given: given ? given.path : '', paths, documents: new Map(), rows: [], cluts: new Map(),
    stored: [], namer: storedNamer(), waiting: new Map(), outputs: [], packs: [], packBuffer: null, pendingSize: 0, failures: [],
    converted: 0, failed: 0, left: 0, imagesDone: 0, bytesDone: 0, results: [],
  };
}

const ofRun = (run) => (current !== null && current.id === run ? current : null);

// The documents and sheets are here: the plan, then the page reads the
// CLUTs it names and the images it converts.
async function documents({ run, files, last }) {
  const holder = await module;
  const of = ofRun(run);
  if (of === null) return;
  for (const { path, bytes } of files) of.documents.set(path, bytes);
  if (!last) return;
  const read = of.documents;
  const { rows, notices } = planTree(holder, of.inDir, of.given, of.paths.map((path) => ({
    path, bytes: read.get(path) ?? null, unread: read.get(path) === null ? 'cannot open' : '' })));
  of.rows = rows;
  of.failures.push(...notices);
  of.failed += notices.length;
  const cluts = new Set();
  rows.forEach((row, index) => {
    if (row.clut === '!') return finish(holder, of, index, { ok: false, line: row.why, left: 'none', size: 0 });
    if (row.clut !== '-' && row.clut !== of.given) cluts.add(row.clut);
    if (!of.waiting.has(row.input)) of.waiting.set(row.input, []);
    of.waiting.get(row.input).push(index);
    of.left++;
  });
  postMessage({ type: 'planned', run, outputs: rows, notices, images: [...of.waiting.keys()], cluts: [...cluts] });
  send(of);
  if (of.left === 0) postMessage({ type: 'finished', run });
}

// The CLUTs' bytes; the page hears whether the one chosen for every image
// can be used: its failure, as the command would print it.
async function cluts({ run, files }) {
  const holder = await module;
  const of = ofRun(run);
  if (of === null) return;
  for (const { path, bytes } of files) of.cluts.set(path, bytes);
  if (!of.given) return;
  const given = of.cluts.get(of.given) ?? null;
  const result = given === null ? -1 : loadClut(holder, given);
  const line = given === null ? cantOpenLine(holder, of.given) : result === 0 ? '' : resultLine(holder, result, '', of.given, '');
  postMessage({ type: 'clutLine', run, line });
}

// Images' bytes: each converted for every rendering that needs it.
async function images({ run, files }) {
  const holder = await module;
  const of = ofRun(run);
  if (of === null) return;
  for (const { path, bytes } of files) {
    for (const index of of.waiting.get(path) ?? []) {
      finish(holder, of, index, convertRow(holder, of, of.rows[index], index, bytes));
      of.left--;
    }
    of.waiting.delete(path);
    of.imagesDone++;
    of.bytesDone += bytes ? bytes.length : 0;
  }
  // Told at once, whatever the count: the page reads on once it hears.
  if (of.left === 0) pack(of);
  send(of);
  if (of.left === 0) postMessage({ type: 'finished', run });
}

// A rendering done: its result counted, for the page to hear with the next.
function finish(holder, of, index, done) {
  if (done.ok) of.converted++;
  else {
    of.failed++;
    of.failures.push({ who: inTree(of, of.rows[index].output), line: done.line, index });
  }
  of.results.push({ index, ok: done.ok, left: done.left, size: done.size, line: done.ok ? null : done.line });
}

function send(of) {
  postMessage({ type: 'converted', run: of.id, results: of.results, imagesDone: of.imagesDone, bytesDone: of.bytesDone });
  of.results = [];
}

// The CLUT a row takes, as lines name it: '' for the default colours.
const clutName = (of, row) => (row.clut === '-' ? '' : row.clut === of.given ? row.clut : inTree(of, row.clut));

// One rendering, as `palfill IN [CLUT] out/OUT` converts it, from the
// image's bytes (null: it could not be read).
function convertRow(holder, of, row, index, png) {
  const clut = row.clut === '-' ? null : of.cluts.get(row.clut) ?? null;
  const failed = (line) => ({ ok: false, line, left: 'none', size: 0 });
  if (row.clut !== '-' && clut === null) return failed(cantOpenLine(holder, clutName(of, row)));
  if (png === null) return failed(cantOpenLine(holder, inTree(of, row.input)));
  const { result, bytes, crc } = convertForPage(holder, png, clut, (view) => {
    const kept = room(of, view.length);
    kept.set(view);
    return kept;
  });
  const left = leftBy(holder, result, bytes.length);
  if (left !== 'none') {
    const kept = bytes.length > 0 ? bytes : room(of, 0); // an empty output has its place too
    of.outputs[index] = { pack: of.packs.length, offset: kept.byteOffset, size: bytes.length, crc };
  }
  const line = result === 0 ? null : resultLine(holder, result, inTree(of, row.input), clutName(of, row), `out/${row.output}`);
  return { ok: result === 0, line, left, size: bytes.length };
}

// Room for an output of `size` bytes in the pack being filled, copied
// there straight from the module's memory; a full pack becomes a Blob.
function room(run, size) {
  if (run.packBuffer === null || run.pendingSize + size > run.packBuffer.length) {
    pack(run);
    run.packBuffer = new Uint8Array(Math.max(packSize, size));
  }
  run.pendingSize += size;
  return run.packBuffer.subarray(run.pendingSize - size, run.pendingSize);
}

// The outputs gathered so far, into a Blob of their own: thousands of
// small Blobs would cost the browser more than the conversions.
function pack(run) {
  if (run.packBuffer === null) return;
  run.packs.push(new Blob([run.packBuffer.subarray(0, run.pendingSize)], { type: 'image/png' }));
  run.packBuffer = null;
  run.pendingSize = 0;
}

// The output of rendering `index` of the current run, as a Blob; null for none.
function outputBlob(run, index) {
  const output = run.outputs[index];
  if (!output) return null;
  if (output.pack === run.packs.length) pack(run);
  return run.packs[output.pack].slice(output.offset, output.offset + output.size, 'image/png');
}

// The output of rendering `index` for writing it out: a small one as bytes
// of its pack, read whole once for all the outputs it holds (`read` keeps
// the last, as a promise), since reading each back on its own costs the
// browser a round trip; a large one as its Blob.
async function outputData(run, index, read) {
  const output = run.outputs[index];
  if (!output) return null;
  if (output.size > 64 * 1024) return outputBlob(run, index);
  if (output.pack === run.packs.length) pack(run);
  if (read.pack !== output.pack) {
    read.pack = output.pack;
    read.bytes = run.packs[output.pack].arrayBuffer().then((bytes) => new Uint8Array(bytes), () => null);
  }
  const bytes = await read.bytes;
  // Where the browser cannot give a pack back, its outputs go as Blobs.
  return bytes ? bytes.subarray(output.offset, output.offset + output.size) : outputBlob(run, index);
}

// What the cards of renderings done show: the line of one that converted,
// made only now; its output as a Blob; the name it is stored under.
async function cardsOf({ id, run, indexes }) {
  const holder = await module;
  const of = ofRun(run);
  postMessage({ type: 'cards', id, cards: indexes.map((index) => {
    const row = of && of.rows[index];
    if (!row) return null;
    return { line: resultLine(holder, 0, inTree(of, row.input), clutName(of, row), `out/${row.output}`),
      blob: outputBlob(of, index), stored: storedName(of, index) };
  }) });
}

// The name the output of rendering `index` is stored under, in the zip or
// the folder. Named in order, only as far as asked: the cards ask for the
// first few while the conversions go on.
function storedName(run, index) {
  while (run.stored.length <= index) run.stored.push(run.namer(run.rows[run.stored.length].output));
  return run.stored[index];
}

// The outputs there are, at the names they are stored under.
function storedOf(run) {
  storedName(run, run.rows.length - 1);
  return run.stored.flatMap((name, index) => (run.outputs[index] ? [{ index, name }] : []));
}

// failed.txt: palfill-tree's lines for the failures, in the order of their
// paths, each noting where the zip keeps an output stored under another
// name; then its summary.
function failedText(holder, run) {
  const lines = [...run.failures].sort((a, b) => byPath(a.who, b.who)).map((failure) => {
    const name = failure.index !== undefined && run.outputs[failure.index] && storedName(run, failure.index);
    const note = name && name !== `out/${run.rows[failure.index].output}` ? ` (stored as ${name})` : '';
    return withoutControls(holder, `${failure.who}: ${failure.line}`) + note;
  });
  lines.push(summaryLine(holder, run.inDir, 'out', run.converted, run.failed));
  return `${lines.join('\n')}\n`;
}

// The outputs as zips of one download each, together holding each once;
// failed.txt goes into the last.
async function zipAll({ id, run, when }) {
  const holder = await module;
  const of = ofRun(run);
  if (of === null) return postMessage({ type: 'zipped', id, zips: [], tooLarge: [] });
  const text = new TextEncoder().encode(failedText(holder, of));
  const read = { pack: -1, bytes: null };
  const entries = storedOf(of).map((s) => ({
    name: s.name, data: () => outputData(of, s.index, read), size: of.outputs[s.index].size, crc: of.outputs[s.index].crc }));
  entries.push({ name: 'failed.txt', data: text, size: text.length, crc: crcOf(holder, text) });
  const { parts, tooLarge } = splitIntoZips(entries, zipLimit);
  const zips = [];
  for (const part of parts) zips.push({ blob: await zipBlob(part, new Date(when)), count: part.length });
  postMessage({ type: 'zipped', id, zips, tooLarge: tooLarge.map((e) => e.name) });
}

// Writes each output into `folder` at its stored name (out/...), making
// folders, with the command's guard: a file there that palfill could not
// have written is left alone, and its rendering fails with the command's line.
async function saveAll({ id, run, folder }) {
  const holder = await module;
  const of = ofRun(run);
  const stored = of ? storedOf(of) : [];
  const results = [];
  const folders = new Map();
  const folderAt = async (path) => {
    if (path === '') return folder;
    if (!folders.has(path)) {
      const slash = path.lastIndexOf('/');
      folders.set(path, folderAt(path.slice(0, slash === -1 ? 0 : slash))
        .then((above) => above.getDirectoryHandle(path.slice(slash + 1), { create: true })));
    }
    return folders.get(path);
  };
  const read = { pack: -1, bytes: null };
  // A few at a time: each file written waits on the browser, not on the worker.
  const saveOne = async ({ index, name: storedAs }) => {
    const data = await outputData(of, index, read);
    const slash = storedAs.lastIndexOf('/');
    const name = storedAs.slice(slash + 1);
    let line = null;
    try {
      const here = await folderAt(slash === -1 ? '' : storedAs.slice(0, slash));
      let existing = null;
      try {
        existing = await (await here.getFileHandle(name)).getFile();
      } catch (error) {
        if (error.name !== 'NotFoundError') throw error;
      }
      if (existing !== null && !mayReplace(holder, new Uint8Array(await existing.slice(0, 9).arrayBuffer()))) {
        line = notPngOutputLine(holder, storedAs);
      } else {
        const writable = await (await here.getFileHandle(name, { create: true })).createWritable();
        try {
          await writable.write(data);
        } catch {
          await writable.abort().catch(() => {});
          line = resultLine(holder, 7, '', '', storedAs); // PALFILL_WRITE_FAILED
        }
        if (line === null) await writable.close();
      }
    } catch {
      line = line ?? cantOpenLine(holder, storedAs);
    }
    if (line !== null && of) {
      of.converted--;
      of.failed++;
      of.failures.push({ who: inTree(of, of.rows[index].output), line, index });
    }
    results.push({ index, line });
  };
  let next = 0;
  await Promise.all(Array.from({ length: 16 }, async () => {
    while (next < stored.length) await saveOne(stored[next++]);
  }));
  postMessage({ type: 'saved', id, results });
}

// failed.txt beside out/ in `folder`, unless a failed.txt there is not
// palfill-tree's own.
async function saveReport({ id, run, folder }) {
  const holder = await module;
  const of = ofRun(run);
  let written = false;
  try {
    const handle = await folder.getFileHandle('failed.txt', { create: true });
    if (of && isTreeReport(holder, await (await handle.getFile()).text())) {
      const writable = await handle.createWritable();
      await writable.write(failedText(holder, of));
      await writable.close();
      written = true;
    }
  } catch {
    written = false;
  }
  postMessage({ type: 'reported', id, written });
}

onmessage = ({ data }) => {
  const task = {
    tree, documents, cluts, images, cards: cardsOf, zip: zipAll, save: saveAll,
    report: saveReport,
  }[data.type];
  Promise.resolve(task(data)).catch((error) => postMessage({ type: 'failed', message: String(error) }));
};

module.then((holder) => postMessage({ type: 'ready', version: versionOf(holder) }));
