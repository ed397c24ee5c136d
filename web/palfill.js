// palfill for JavaScript: the same core as the command, built to
// WebAssembly, in Node 18 or later and in browsers. Ready when imported.
//
//   import { convert } from 'palfill';
//   const { result, bytes } = convert(png, clut);  // Uint8Arrays; clut optional
//
// `bytes` holds what the command leaves in its output file for the same
// input; `result` is one of RESULTS. Nothing is read from or sent to
// anywhere: the module carries its WebAssembly inside.
import { wasmBase64 } from './palfill-wasm.js';

export const RESULTS = [
  'finished',
  'not_png',
  'unexpected_eof',
  'clut_unexpected_eof',
  'unknown_depth',
  'not_a_clut',
  'out_of_memory',
];

function decodeBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

const { instance } = await WebAssembly.instantiate(decodeBase64(wasmBase64), {});
const wasm = instance.exports;
wasm._initialize();

// Copies `bytes` into the module's memory; 0 when it has no room.
function copyIn(bytes) {
  const at = wasm.palfill_web_alloc(bytes.length);
  if (at !== 0) new Uint8Array(wasm.memory.buffer, at, bytes.length).set(bytes);
  return at;
}

function readString(at) {
  const memory = new Uint8Array(wasm.memory.buffer);
  let end = at;
  while (memory[end] !== 0) end++;
  return new TextDecoder().decode(memory.subarray(at, end));
}

/** The library's version, such as "1.1.0". */
export const version = readString(wasm.palfill_version());

/**
 * Gives `png` its palette from `clut` (a CLUT file's bytes) or, without
 * one, from the default colours. An empty `clut` is an empty CLUT file,
 * which ends early.
 */
export function convert(png, clut) {
  if (!(png instanceof Uint8Array)) throw new TypeError('png must be a Uint8Array');
  const hasClut = clut !== undefined && clut !== null;
  if (hasClut && !(clut instanceof Uint8Array)) throw new TypeError('clut must be a Uint8Array');
  const pngAt = copyIn(png);
  const clutAt = hasClut ? copyIn(clut) : 0;
  const outAt = wasm.palfill_web_alloc(8); // the output's address, then its size
  let result = 'out_of_memory';
  let bytes = new Uint8Array(0);
  if (pngAt !== 0 && (!hasClut || clutAt !== 0) && outAt !== 0) {
    const code = wasm.palfill_convert(pngAt, png.length, clutAt, hasClut ? clut.length : 0,
                                      outAt, outAt + 4);
    const view = new DataView(wasm.memory.buffer);
    const at = view.getUint32(outAt, true);
    const size = view.getUint32(outAt + 4, true);
    bytes = new Uint8Array(wasm.memory.buffer, at, size).slice();
    wasm.palfill_free(at);
    result = RESULTS[code] ?? 'out_of_memory';
  }
  for (const at of [pngAt, clutAt, outAt]) if (at !== 0) wasm.palfill_web_release(at);
  return { result, bytes };
}

/** The CRC-32 of `bytes`, as zip and PNG files store it. */
export function crc32(bytes) {
  const at = copyIn(bytes);
  if (at === 0) throw new RangeError('no memory for the CRC');
  const crc = wasm.palfill_web_crc32(at, bytes.length) >>> 0;
  wasm.palfill_web_release(at);
  return crc;
}
