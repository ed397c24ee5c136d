// Zips of stored (uncompressed) files, made of Blobs without copying their
// bytes: the page's worker hands the outputs it holds over as zips of at
// most one download each. Node tests it directly.
import { zipLimit } from './zip-limit.js';

/** The most entries a zip without its 64-bit extension holds. */
export const zipEntryLimit = 0xffff;

const localSize = 30;
const centralSize = 46;
const endSize = 22;

/** The bytes a zip of `entries` ([{ name, size }]) takes. */
export function zipSize(entries) {
  const encoder = new TextEncoder();
  return entries.reduce((sum, e) => sum + localSize + centralSize + 2 * encoder.encode(e.name).length + e.size,
    endSize);
}

/**
 * Splits `entries` ([{ name, size }], in order) into zips of at most
 * `limit` bytes and zipEntryLimit entries each, so that no zip needs
 * ZIP64 and every one downloads whole. Returns { parts: [[entry, ...], ...],
 * tooLarge: [entry, ...] }, the entries that fit in no zip apart.
 */
export function splitIntoZips(entries, limit = zipLimit) {
  const parts = [];
  const tooLarge = [];
  let part = [];
  let size = endSize;
  for (const entry of entries) {
    const needs = zipSize([entry]) - endSize;
    if (needs + endSize > limit) {
      tooLarge.push(entry);
      continue;
    }
    if (part.length === zipEntryLimit || size + needs > limit) {
      parts.push(part);
      part = [];
      size = endSize;
    }
    part.push(entry);
    size += needs;
  }
  if (part.length > 0 || parts.length === 0) parts.push(part);
  return { parts, tooLarge };
}

/**
 * One zip of `entries` ([{ name, data, size, crc }]), as
 * a Blob: UTF-8 names, made by Unix with mode 0644, dated `when`. The caller
 * keeps it within a download (splitIntoZips): offsets and sizes are 32-bit.
 * Entries given as bytes are copied into blocks of `block` bytes as it
 * goes, so that the zip is a few pieces for each large file, not three for
 * each of thousands of small ones (a Blob of that many pieces takes the
 * browser long to give an address); a large one, and one given as a Blob,
 * stays a piece of its own, never read into the page (a Blob the caller
 * could not read as bytes, the browser cannot give back here either).
 * `data` is a Blob or a Uint8Array, or a function that gives one (or a
 * promise of one) when its entry's turn comes.
 */
export async function zipBlob(entries, when, block = 8 * 1024 * 1024) {
  const encoder = new TextEncoder();
  const pieces = [];
  let buffer = new Uint8Array(block);
  let used = 0;
  const flush = () => {
    if (used > 0) pieces.push(buffer.slice(0, used));
    used = 0;
  };
  const put = (bytes) => {
    if (bytes instanceof Blob || bytes.length > block) {
      flush();
      pieces.push(bytes); // a large one stays where it is
      return;
    }
    if (used + bytes.length > block) flush();
    buffer.set(bytes, used);
    used += bytes.length;
  };
  const central = [];
  let offset = 0;
  const time = (when.getHours() << 11) | (when.getMinutes() << 5) | (when.getSeconds() >> 1);
  const date = ((when.getFullYear() - 1980) << 9) | ((when.getMonth() + 1) << 5) | when.getDate();
  const header = (size) => { const b = new Uint8Array(size); return [b, new DataView(b.buffer)]; };
  for (const entry of entries) {
    const name = encoder.encode(entry.name);
    // The fields both headers hold, from the version needed on: stored
    // (method 0), names in UTF-8, the date, the CRC, the sizes, the name's length.
    const common = (view, at) => {
      view.setUint16(at, 20, true);
      view.setUint16(at + 2, 0x0800, true);
      view.setUint16(at + 6, time, true);
      view.setUint16(at + 8, date, true);
      view.setUint32(at + 10, entry.crc, true);
      view.setUint32(at + 14, entry.size, true);
      view.setUint32(at + 18, entry.size, true);
      view.setUint16(at + 22, name.length, true);
    };
    const [local, l] = header(localSize);
    l.setUint32(0, 0x04034b50, true);
    common(l, 4);
    const [record, c] = header(centralSize);
    c.setUint32(0, 0x02014b50, true);
    c.setUint16(4, (3 << 8) | 20, true); // made by Unix, so that unzip reads the names as UTF-8
    common(c, 6);
    c.setUint32(38, (0o100644 << 16) >>> 0, true); // a regular file, rw-r--r--
    c.setUint32(42, offset, true);
    put(local);
    put(name);
    const data = typeof entry.data === 'function' ? await entry.data() : entry.data;
    put(data);
    central.push(record, name);
    offset += localSize + name.length + entry.size;
  }
  const directorySize = central.reduce((sum, b) => sum + b.length, 0);
  for (const piece of central) put(piece);
  const [end, e] = header(endSize);
  e.setUint32(0, 0x06054b50, true);
  e.setUint16(8, entries.length, true);
  e.setUint16(10, entries.length, true);
  e.setUint32(12, directorySize, true);
  e.setUint32(16, offset, true);
  put(end);
  flush();
  buffer = null;
  return new Blob(pieces, { type: 'application/zip' });
}
