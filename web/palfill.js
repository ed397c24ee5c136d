// palfill for JavaScript: the same core as the command, built to
// WebAssembly, in Node 18 or later and in browsers. Ready when imported
// (or required: the package carries a CommonJS build of this file).
//
//   import { convert } from 'palfill';
//   const { result, bytes } = convert(png, clut);  // Uint8Arrays; clut optional
//
// `bytes` holds what the command leaves in its output file for the same
// input; `result` is one of RESULTS. Nothing is read from or sent to
// anywhere: the module carries its WebAssembly inside.
import { wasmBase64 } from './palfill-wasm.js';

/** Every palfill_result of the library, by its value (written from palfill.h). */
export const RESULTS = Object.freeze([/* palfill.h: results */]);

function decodeBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

const wasmModule = await WebAssembly.compile(decodeBase64(wasmBase64)); // palfill:compile

function instantiate() {
  const { exports } = new WebAssembly.Instance(wasmModule, {});
  exports._initialize();
  return exports;
}

let wasm = instantiate();

// A WebAssembly memory never shrinks: after a conversion that grew it past
// this, the module starts afresh and lets the old one go.
const keptMemory = 64 * 1024 * 1024;

function letLargeMemoryGo() {
  if (wasm.memory.buffer.byteLength <= keptMemory) return;
  try {
    wasm = instantiate();
  } catch {
    // No memory for a fresh module: go on with the one there is.
  }
}

// Addresses come back from WebAssembly as signed 32-bit numbers; those
// above 2 GiB must be read as the unsigned ones they are.
const address = (value) => value >>> 0;

// Whatever realm made it (a vm context, an iframe, jsdom): a view is a
// Uint8Array by its internal name, which instanceof cannot see across realms.
const isUint8Array = (value) =>
  ArrayBuffer.isView(value) && Object.prototype.toString.call(value) === '[object Uint8Array]';

// A view over a buffer that has been handed elsewhere holds nothing and
// throws on use; only slicing its buffer tells it from an empty one.
function isDetached(view) {
  try {
    view.buffer.slice(0, 0);
    return false;
  } catch {
    return true;
  }
}

function checkBytes(value, name) {
  if (!isUint8Array(value)) throw new TypeError(`${name} must be a Uint8Array`);
  if (isDetached(value)) throw new TypeError(`${name} is over a detached buffer`);
}

// Copies `bytes` into the module's memory, noting the copy in `held` for
// release; 0 when the module has no room.
function copyIn(bytes, held) {
  const at = address(wasm.palfill_web_alloc(bytes.length));
  if (at === 0) return 0;
  held.push(at);
  new Uint8Array(wasm.memory.buffer, at, bytes.length).set(bytes);
  return at;
}

function readString(at) {
  const memory = new Uint8Array(wasm.memory.buffer);
  let end = at;
  while (memory[end] !== 0) end++;
  return new TextDecoder().decode(memory.subarray(at, end));
}

/** The library's version, such as "1.3.0". */
export const version = readString(address(wasm.palfill_version()));

/**
 * Gives `png` its palette from `clut` (a CLUT file's bytes) or, without
 * one, from the default colours. An empty `clut` is an empty CLUT file,
 * which ends early. Throws a TypeError, before anything else, for
 * arguments that are not Uint8Arrays over buffers of their own; otherwise
 * always returns, 'out_of_memory' included.
 */
export function convert(png, clut) {
  checkBytes(png, 'png');
  const hasClut = clut !== undefined && clut !== null;
  if (hasClut) checkBytes(clut, 'clut');
  const held = [];
  let result = 'out_of_memory';
  let bytes = new Uint8Array(0);
  try {
    const pngAt = copyIn(png, held);
    const clutAt = hasClut ? copyIn(clut, held) : 0;
    const outAt = copyIn(new Uint8Array(8), held); // the output's address, then its size
    if (pngAt !== 0 && (!hasClut || clutAt !== 0) && outAt !== 0) {
      const code = wasm.palfill_convert(pngAt, png.length, clutAt, hasClut ? clut.length : 0,
                                        outAt, outAt + 4);
      const view = new DataView(wasm.memory.buffer);
      const at = view.getUint32(outAt, true);
      const size = view.getUint32(outAt + 4, true);
      if (at !== 0) {
        try {
          bytes = new Uint8Array(wasm.memory.buffer, at, size).slice();
        } finally {
          wasm.palfill_free(at);
        }
      }
      result = RESULTS[code] ?? `unknown_result_${code}`;
    }
  } catch (error) {
    // JavaScript itself found no memory for the copies.
    if (!(error instanceof RangeError)) throw error;
    result = 'out_of_memory';
    bytes = new Uint8Array(0);
  } finally {
    for (const at of held) wasm.palfill_web_release(at);
    letLargeMemoryGo();
  }
  return { result, bytes };
}

/**
 * The CRC-32 of `bytes`, as zip and PNG files store it.
 * @deprecated Only the page's zip needs it; it goes in the next major version.
 */
export function crc32(bytes) {
  checkBytes(bytes, 'bytes');
  const held = [];
  try {
    const at = copyIn(bytes, held);
    if (at === 0) throw new RangeError('no memory for the CRC');
    return wasm.palfill_web_crc32(at, bytes.length) >>> 0;
  } finally {
    for (const at of held) wasm.palfill_web_release(at);
  }
}

// The command's own lines, from the command's own code in the module, for
// the page: `fn` names the export, and each string argument goes in as C
// text. The line comes back without its newline.
function commandLine(fn, ...args) {
  const held = [];
  const encoder = new TextEncoder();
  try {
    const values = args.map((arg) => {
      if (typeof arg !== 'string') return arg;
      const at = copyIn(encoder.encode(`${arg}\0`), held);
      if (at === 0) throw new RangeError('no memory for a line');
      return at;
    });
    const at = address(wasm[fn](...values));
    if (at === 0) throw new RangeError('no memory for a line');
    held.push(at);
    return readString(at).replace(/\n$/, '');
  } finally {
    for (const at of held) wasm.palfill_web_release(at);
  }
}

// Whether a file that begins with `start` (its first 9 bytes, fewer when
// it is shorter) is one the command may replace.
function mayReplace(start) {
  const held = [];
  try {
    const at = copyIn(start.length > 0 ? start : new Uint8Array(1), held);
    return at !== 0 && wasm.palfill_web_may_replace(at, start.length) === 1;
  } finally {
    for (const at of held) wasm.palfill_web_release(at);
  }
}
