// An instance of a WebAssembly module of palfill's core, and what every
// caller of one needs: bytes and text in and out of its memory, a
// conversion, and a fresh instance after one that grew its memory past
// 64 MiB, since a WebAssembly memory never shrinks. The npm module and the
// page's worker each hold one.

/** The bytes of base64 text. */
export function decodeBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

function fresh(wasmModule) {
  const { exports } = new WebAssembly.Instance(wasmModule, {});
  exports._initialize();
  return exports;
}

/** A holder of an instance of `wasmModule`: `holder.exports` is the instance's. */
export function instantiate(wasmModule) {
  return { module: wasmModule, exports: fresh(wasmModule) };
}

const keptMemory = 64 * 1024 * 1024;

function letLargeMemoryGo(holder) {
  if (holder.exports.memory.buffer.byteLength <= keptMemory) return;
  try {
    holder.exports = fresh(holder.module);
  } catch {
    // No memory for a fresh instance: go on with the one there is.
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

/** Throws a TypeError unless `value` is a Uint8Array over a buffer of its own. */
export function checkBytes(value, name) {
  if (!isUint8Array(value)) throw new TypeError(`${name} must be a Uint8Array`);
  if (isDetached(value)) throw new TypeError(`${name} is over a detached buffer`);
}

const encoder = new TextEncoder();

/**
 * Runs `use` with room in the instance's memory for each of `inputs`
 * (Uint8Arrays; strings go in as NUL-terminated UTF-8), their addresses
 * given in order (0 for what found no room), then lets the room go.
 */
export function withInputs(holder, inputs, use) {
  const held = [];
  try {
    const addresses = inputs.map((input) => {
      const bytes = typeof input === 'string' ? encoder.encode(`${input}\0`) : input;
      const at = address(holder.exports.palfill_web_alloc(bytes.length));
      if (at === 0) return 0;
      held.push(at);
      new Uint8Array(holder.exports.memory.buffer, at, bytes.length).set(bytes);
      return at;
    });
    return use(...addresses);
  } finally {
    for (const at of held) holder.exports.palfill_web_release(at);
  }
}

/** The NUL-terminated text at `at`, which `release` (when true) then lets go. */
export function textAt(holder, at, release = true) {
  at = address(at);
  if (at === 0) throw new RangeError('no memory for a text');
  const memory = new Uint8Array(holder.exports.memory.buffer);
  let end = at;
  while (memory[end] !== 0) end++;
  const text = new TextDecoder().decode(memory.subarray(at, end));
  if (release) holder.exports.palfill_web_release(at);
  return text;
}

/**
 * Converts `png` with `clut` (bytes, or null for the default colours):
 * { result (the library's value), bytes, crc (their CRC-32, when asked
 * for) }. Always returns; 'out of memory' when the instance cannot hold the
 * image. `copyOut(view)` takes the output from the instance's memory and
 * gives the bytes kept: a copy of its own by default.
 */
export function convertIn(holder, png, clut, withCrc = false, copyOut = (view) => view.slice()) {
  const hasClut = clut !== undefined && clut !== null;
  let converted = { result: 6, bytes: new Uint8Array(0), crc: 0 }; // PALFILL_OUT_OF_MEMORY
  try {
    withInputs(holder, [png, hasClut ? clut : new Uint8Array(0), new Uint8Array(8)], (pngAt, clutAt, outAt) => {
      if (pngAt === 0 || (hasClut && clutAt === 0) || outAt === 0) return;
      const wasm = holder.exports;
      const code = wasm.palfill_convert(pngAt, png.length, hasClut ? clutAt : 0, hasClut ? clut.length : 0,
        outAt, outAt + 4);
      const view = new DataView(wasm.memory.buffer);
      const at = view.getUint32(outAt, true);
      const size = view.getUint32(outAt + 4, true);
      converted = { result: code, bytes: new Uint8Array(0), crc: 0 };
      if (at === 0) return;
      try {
        converted.bytes = copyOut(new Uint8Array(wasm.memory.buffer, at, size));
        if (withCrc) converted.crc = wasm.palfill_web_crc32(at, size) >>> 0;
      } finally {
        wasm.palfill_free(at);
      }
    });
  } catch (error) {
    // JavaScript itself found no memory for the copies.
    if (!(error instanceof RangeError)) throw error;
    converted = { result: 6, bytes: new Uint8Array(0), crc: 0 };
  } finally {
    letLargeMemoryGo(holder);
  }
  return converted;
}
