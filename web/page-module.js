// The page's own use of palfill's core: its WebAssembly module carries the
// command's lines and rules and the planner besides the conversion, so
// that the page says and decides what palfill-tree does, from the same
// code. The page's worker loads it; Node's tests import it too. Not part
// of the npm package.
import { convertIn, decodeBase64, instantiate, textAt, withInputs } from './wasm-instance.js';

/**
 * The page's module from its bytes, compressed (deflate, raw) and written
 * in base64 so that the page stays small: a holder of its instance.
 */
export async function loadPageModule(compressedBase64) {
  const compressed = decodeBase64(compressedBase64);
  const stream = new ReadableStream({ start(controller) { controller.enqueue(compressed); controller.close(); } })
    .pipeThrough(new DecompressionStream('deflate-raw'));
  const bytes = new Uint8Array(await new Response(stream).arrayBuffer());
  return instantiate(await WebAssembly.compile(bytes));
}

// A text the module makes by `fn`, from `args` (strings go in as text),
// without its final newline.
function made(holder, fn, ...args) {
  const strings = args.filter((arg) => typeof arg === 'string');
  return withInputs(holder, strings, (...addresses) => {
    if (addresses.includes(0)) throw new RangeError('no memory for a line');
    let next = 0;
    const values = args.map((arg) => (typeof arg === 'string' ? addresses[next++] : arg));
    return textAt(holder, holder.exports[fn](...values)).replace(/\n$/, '');
  });
}

/** { result, bytes, crc }: the conversion, and the CRC-32 the zip needs. */
export const convertForPage = (holder, png, clut, copyOut) => convertIn(holder, png, clut, true, copyOut);

/** The CRC-32 of `bytes`, as zip files store it. */
export const crcOf = (holder, bytes) => withInputs(holder, [bytes], (at) => {
  if (at === 0) throw new RangeError('no memory for a CRC');
  return holder.exports.palfill_web_crc32(at, bytes.length) >>> 0;
});

/** The library's version, such as "1.4.0". */
export const versionOf = (holder) => textAt(holder, holder.exports.palfill_version(), false);

/** The line for a library result, a CLUT's own failure naming the CLUT. */
export const resultLine = (holder, result, reading, clut, output) =>
  made(holder, 'palfill_web_result_line', result, reading, clut, output);
export const cantOpenLine = (holder, path) => made(holder, 'palfill_web_cant_open_line', path);
export const notPngOutputLine = (holder, path) => made(holder, 'palfill_web_not_png_output_line', path);
export const summaryLine = (holder, inDir, outDir, converted, failed) =>
  made(holder, 'palfill_web_summary_line', inDir, outDir, converted, failed);
/** A line as palfill-tree writes it: its control characters as \xNN. */
export const withoutControls = (holder, line) => made(holder, 'palfill_web_without_controls', line);

const leftNames = ['none', 'empty', 'part', 'whole'];
/** What a conversion left where its output goes: 'none', 'empty', 'part' or 'whole'. */
export const leftBy = (holder, result, size) => leftNames[holder.exports.palfill_web_left_by(result, size)];

/** Whether a file that begins with `start` (its first 9 bytes, fewer when shorter) may be replaced. */
export function mayReplace(holder, start) {
  return withInputs(holder, [start.length > 0 ? start : new Uint8Array(1)],
    (at) => at !== 0 && holder.exports.palfill_web_may_replace(at, start.length) === 1);
}

/** Whether `text`, a failed.txt found where one goes, is palfill-tree's own. */
export const isTreeReport = (holder, text) =>
  withInputs(holder, [text], (at) => at !== 0 && holder.exports.palfill_web_is_tree_report(at) === 1);

/** A CLUT file's own result, as a conversion would load it. */
export const loadClut = (holder, bytes) =>
  withInputs(holder, [bytes], (at) => (at === 0 ? 6 : holder.exports.palfill_web_load_clut(at, bytes.length)));

// A plan's field as the module writes it, \\ and \xNN read back.
function unescaped(field) {
  if (!field.includes('\\')) return field;
  const bytes = [];
  const raw = new TextEncoder().encode(field);
  for (let i = 0; i < raw.length; i++) {
    if (raw[i] === 0x5c && raw[i + 1] === 0x78) {
      bytes.push(parseInt(String.fromCharCode(raw[i + 2], raw[i + 3]), 16));
      i += 3;
    } else {
      bytes.push(raw[i]);
      if (raw[i] === 0x5c) i++;  // a backslash written twice
    }
  }
  return new TextDecoder().decode(new Uint8Array(bytes));
}

const unread = { 'cannot open': 1, 'not regular': 2, 'read failed': 3 };

/**
 * The plan of the tree at `inDir` (as lines name it) whose files are
 * `files` ([{ path, bytes, unread }]: `bytes` a document's or a sheet's,
 * or null; `unread` 'cannot open' or another reason it could not be read),
 * `given` the CLUT for every image as lines name it, or ''. In the walk's
 * order: { rows: [{ output, input, clut, why }], notices: [{ who, line }] },
 * palfill-tree --plan's rows and the lines of its own.
 */
export function planTree(holder, inDir, given, files) {
  const plan = withInputs(holder, [inDir, given], (inAt, givenAt) => holder.exports.palfill_web_plan_new(inAt, givenAt));
  if (plan === 0) throw new RangeError('no memory for the plan');
  try {
    const listed = new TextEncoder().encode(files.filter((f) => !f.bytes && !f.unread).map((f) => `${f.path}\0`).join(''));
    if (listed.length > 0) {
      withInputs(holder, [listed], (at) => {
        if (at === 0) throw new RangeError('no memory for the plan');
        holder.exports.palfill_web_plan_paths(plan, at, listed.length);
      });
    }
    for (const { path, bytes, unread: why } of files.filter((f) => f.bytes || f.unread)) {
      withInputs(holder, [path, bytes ?? new Uint8Array(0)], (pathAt, bytesAt) => {
        if (pathAt === 0 || bytesAt === 0) throw new RangeError('no memory for the plan');
        holder.exports.palfill_web_plan_file(plan, pathAt, bytes ? bytesAt : 0, bytes ? bytes.length : 0, unread[why] ?? 0);
      });
    }
    const rows = [];
    const notices = [];
    for (const line of textAt(holder, holder.exports.palfill_web_plan_text(plan)).split('\n')) {
      const fields = line.split('\t').map(unescaped);
      if (fields[0] === 'R') rows.push({ output: fields[1], input: fields[2], clut: fields[3], why: fields[4] });
      if (fields[0] === 'N') notices.push({ who: fields[1], line: fields[2] });
    }
    return { rows, notices };
  } finally {
    holder.exports.palfill_web_plan_free(plan);
  }
}
