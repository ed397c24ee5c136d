// The page's worker: everything that takes time, off the page's own thread.
// It gets each image's bytes when its turn comes (the page reads them: it
// hands over bytes, never files), converts it with the module
// (palfill.js, above this in the built worker), keeps the output as a
// Blob, and hands the outputs over as zips (zip.js) or writes them into a
// folder the user picked. Every line it gives is the command's, from the
// command's own code in the module.
//
// In:  { type: 'convert', run, cluts, jobs, last } -> { type: 'converted', run, results, last }
//      { type: 'image', run, id, bytes }      (an image's bytes, which the page reads when its turn comes)
//      { type: 'clut', id, clut: { path, bytes } } -> { type: 'clut', id, line }
//      { type: 'blobs', id, run, ids }        -> { type: 'blobs', id, blobs }
//      { type: 'zip', id, run, entries, failed, when, limit } -> { type: 'zipped', id, zips, tooLarge }
//      { type: 'save', id, run, folder, entries } -> { type: 'saved', id, results }
//      { type: 'report', id, folder, failed } -> { type: 'reported', id, written }
// and at the start                            -> { type: 'ready', version }

// A CLUT failure ends the command before it creates the output.
const clutFailures = new Set(['clut_unexpected_eof', 'unknown_depth', 'not_a_clut']);

// What a conversion left, in the words of the command's manual.
function leftBy(result, bytes) {
  if (clutFailures.has(result)) return 'none';
  if (bytes.length === 0) return 'empty';
  return result === 'finished' ? 'whole' : 'part';
}

// One image, as `palfill PATH [CLUT] OUT` converts it, from the bytes the
// page read for it (null: it could not be read).
function convertJob(job, png, run) {
  const failed = (line) => ({ id: job.id, line, ok: false, left: 'none', size: 0 });
  if (job.ambiguous !== undefined) {
    return failed(commandLine('palfill_web_more_than_one_clut_line', job.ambiguous));
  }
  const named = job.clut >= 0 ? run.cluts[job.clut] : null;
  if (named && named.bytes === null) return failed(commandLine('palfill_web_cant_open_line', named.path));
  if (png === null) return failed(commandLine('palfill_web_cant_open_line', job.path));
  const { result, bytes } = convert(png, named ? named.bytes : undefined);
  const line = commandLine('palfill_web_result_line', RESULTS.indexOf(result), job.path,
    named ? named.path : '', job.outPath);
  const left = leftBy(result, bytes);
  // The output stays here: the page asks for those it shows, and the zips
  // and the folder take them from here, so that thousands of Blobs never
  // cross to the page's thread.
  if (left !== 'none') run.kept.set(job.id, { blob: new Blob([bytes], { type: 'image/png' }), crc: crc32(bytes) });
  return { id: job.id, line, ok: result === 'finished', left, size: bytes.length };
}

// The run being converted: its CLUTs and its jobs, which come in several
// messages, and the images' bytes, which the page reads and sends a few at
// a time, in order. A newer run makes an older one stop.
let current = null;

function convertSome({ run, cluts, jobs, last }) {
  if (current === null || run > current.run) {
    current = { run, cluts: [], jobs: [], next: 0, last: false, bytes: new Map(), waiting: null, kept: new Map() };
  }
  if (run !== current.run) return;
  if (cluts) current.cluts = cluts.map((c) => ({ path: c.path, bytes: c.bytes && new Uint8Array(c.bytes) }));
  current.jobs.push(...jobs);
  current.last = current.last || Boolean(last);
  if (current.next === 0 && current.jobs.length === jobs.length) work(current);
}

function imageBytes({ run, id, bytes }) {
  if (current === null || run !== current.run) return;
  current.bytes.set(id, bytes === null ? null : new Uint8Array(bytes));
  if (current.waiting !== null) current.waiting();
}

// The bytes for job `id`, once they are there.
async function bytesFor(state, id) {
  while (!state.bytes.has(id)) await new Promise((resolve) => { state.waiting = resolve; });
  state.waiting = null;
  const bytes = state.bytes.get(id);
  state.bytes.delete(id);
  return bytes;
}

async function work(state) {
  let batch = [];
  let sent = Date.now();
  const send = (last) => {
    postMessage({ type: 'converted', run: state.run, results: batch, last });
    batch = [];
    sent = Date.now();
  };
  for (;;) {
    while (state === current && state.next === state.jobs.length && !state.last) {
      if (batch.length) send(false);
      await new Promise((resolve) => setTimeout(resolve, 10));
    }
    if (state !== current) return;
    if (state.next === state.jobs.length) break;
    const job = state.jobs[state.next++];
    // The page sends more once it hears of these: no waiting on a full batch.
    if (job.ambiguous === undefined && !state.bytes.has(job.id) && batch.length) send(false);
    const png = job.ambiguous === undefined ? await bytesFor(state, job.id) : null;
    if (state !== current) return;
    batch.push(convertJob(job, png, state));
    // Results go back a few at a time: a message each would keep the page busy.
    if (batch.length >= 64 || Date.now() - sent > 50) send(false);
  }
  send(true);
}

// The outputs `ids` of the current run, for the page to show.
function blobsOf({ id, run, ids }) {
  const kept = current !== null && current.run === run ? current.kept : new Map();
  postMessage({ type: 'blobs', id, blobs: ids.map((of) => kept.get(of)?.blob ?? null) });
}

// What the page names `entries` ([{ id, name }]) by: the outputs kept.
function outputsNamed(run, entries) {
  const kept = current !== null && current.run === run ? current.kept : new Map();
  return entries.filter((e) => kept.has(e.id))
    .map((e) => ({ ...e, data: kept.get(e.id).blob, size: kept.get(e.id).blob.size, crc: kept.get(e.id).crc }));
}

// A CLUT's own failure, as the command would print it, or '' when it is
// usable: a conversion of nothing reads the CLUT and stops at the PNG.
function checkClut({ id, clut }) {
  let line = '';
  if (clut.bytes === null) {
    line = commandLine('palfill_web_cant_open_line', clut.path);
  } else {
    const { result } = convert(new Uint8Array(0), new Uint8Array(clut.bytes));
    if (clutFailures.has(result)) {
      line = commandLine('palfill_web_result_line', RESULTS.indexOf(result), '', clut.path, '');
    }
  }
  postMessage({ type: 'clut', id, line });
}

// failed.txt: palfill-tree's lines for the failures, then its summary.
function failedText({ lines, inDir, outDir, converted, failed }) {
  return `${lines}${commandLine('palfill_web_summary_line', inDir, outDir, converted, failed)}\n`;
}

// Whether a failed.txt found where one goes is palfill-tree's own: its last
// line is a summary. Anything else is left alone.
const isSummary = (text) => /(^|\n)Finished .* -> .*: \d+ converted, \d+ failed\n?$/.test(text) || text === '';

// The outputs as zips of one download each, together holding each once;
// failed.txt goes into the last.
async function zipAll({ id, run, entries: named, failed, when, limit }) {
  const text = new TextEncoder().encode(failedText(failed));
  const entries = outputsNamed(run, named);
  entries.push({ name: 'failed.txt', data: text, size: text.length, crc: crc32(text) });
  const { parts, tooLarge } = splitIntoZips(entries, limit);
  const zips = [];
  for (const part of parts) zips.push({ blob: await zipBlob(part, new Date(when)), count: part.length });
  postMessage({ type: 'zipped', id, zips, tooLarge: tooLarge.map((e) => e.name) });
}

// Writes each output into `folder` at its name (out/...), making folders,
// with the command's guard: a file there that palfill could not have
// written is left alone, and its image fails with the command's line.
async function saveAll({ id, run, folder, entries: named }) {
  const entries = outputsNamed(run, named);
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
  for (const entry of entries) {
    const slash = entry.name.lastIndexOf('/');
    const name = entry.name.slice(slash + 1);
    let line = null;
    try {
      const here = await folderAt(slash === -1 ? '' : entry.name.slice(0, slash));
      let existing = null;
      try {
        existing = await (await here.getFileHandle(name)).getFile();
      } catch (error) {
        if (error.name !== 'NotFoundError') throw error;
      }
      if (existing !== null && !mayReplace(new Uint8Array(await existing.slice(0, 9).arrayBuffer()))) {
        line = commandLine('palfill_web_not_png_output_line', entry.name);
      } else {
        const writable = await (await here.getFileHandle(name, { create: true })).createWritable();
        try {
          await writable.write(entry.data);
        } catch {
          await writable.abort().catch(() => {});
          line = commandLine('palfill_web_result_line', RESULTS.indexOf('write_failed'), '', '', entry.name);
        }
        if (line === null) await writable.close();
      }
    } catch {
      line = line ?? commandLine('palfill_web_cant_open_line', entry.name);
    }
    results.push({ id: entry.id, line });
  }
  postMessage({ type: 'saved', id, results });
}

// failed.txt beside out/ in `folder`, unless a failed.txt there is not
// palfill-tree's own.
async function saveReport({ id, folder, failed }) {
  let written = false;
  try {
    const handle = await folder.getFileHandle('failed.txt', { create: true });
    if (isSummary(await (await handle.getFile()).text())) {
      const writable = await handle.createWritable();
      await writable.write(failedText(failed));
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
    convert: convertSome, image: imageBytes, blobs: blobsOf, clut: checkClut, zip: zipAll, save: saveAll,
    report: saveReport,
  }[data.type];
  Promise.resolve(task(data)).catch((error) => postMessage({ type: 'failed', message: String(error) }));
};

postMessage({ type: 'ready', version });
