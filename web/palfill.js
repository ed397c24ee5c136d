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
import { checkBytes, convertIn, decodeBase64, instantiate, textAt, withInputs } from './wasm-instance.js';

/** Every palfill_result of the library, by its value (written by the build, from the module). */
export const RESULTS = Object.freeze([/* palfill.h: results */]);

const wasmModule = await WebAssembly.compile(decodeBase64(wasmBase64)); // palfill:compile
const holder = instantiate(wasmModule);

/** The library's version, such as "1.4.0". */
export const version = textAt(holder, holder.exports.palfill_version(), false);

/**
 * Gives `png` its palette from `clut` (a CLUT file's bytes) or, without
 * one, from the default colours. An empty `clut` is an empty CLUT file,
 * which ends early. Throws a TypeError, before anything else, for
 * arguments that are not Uint8Arrays over buffers of their own; otherwise
 * always returns, 'out_of_memory' included.
 */
export function convert(png, clut) {
  checkBytes(png, 'png');
  if (clut !== undefined && clut !== null) checkBytes(clut, 'clut');
  const { result, bytes } = convertIn(holder, png, clut);
  return { result: RESULTS[result] ?? `unknown_result_${result}`, bytes };
}

/**
 * The CRC-32 of `bytes`, as zip and PNG files store it.
 * @deprecated Only the page's zip needed it; it goes in the next major version.
 */
export function crc32(bytes) {
  checkBytes(bytes, 'bytes');
  return withInputs(holder, [bytes], (at) => {
    if (at === 0) throw new RangeError('no memory for the CRC');
    return holder.exports.palfill_web_crc32(at, bytes.length) >>> 0;
  });
}
