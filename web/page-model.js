// What the page decides without the browser's help, apart so that Node can
// test it: the command's line for each result, which CLUT an image takes,
// safe and distinct names in the zip, and the zip itself.

/** The line the command prints for `result`; every result has its own. */
export function lineFor(result, inPath, outPath, clutPath) {
  switch (result) {
    case 'finished': return `Finished ${inPath} -> ${outPath}`;
    case 'not_png': return 'Error : Not a PNG format';
    case 'unexpected_eof':
    case 'clut_unexpected_eof': return 'Error : Unexpected EOF';
    case 'unknown_depth': return 'Error : Unknown depth (3)';
    case 'not_a_clut': return `Error : Not a CLUT file ${clutPath}`;
    case 'out_of_memory': return 'Error : Chunk too large to buffer';
    case 'write_failed': return `Error : Can't write file ${outPath}`;
    case 'read_failed': return `Error : Can't read file ${inPath}`;
    case 'buffer_too_small': return 'Error : Output buffer too small';
    case 'invalid_argument': return 'Error : Invalid argument';
    default: return `Error : Unknown result (${result})`;
  }
}

/** A CLUT failure ends the command before it creates the output. */
export const leavesOutput = (result) =>
  !['clut_unexpected_eof', 'unknown_depth', 'not_a_clut'].includes(result);

/** The folder of a relative path: '' for the top level. */
export const folderOf = (path) => path.slice(0, Math.max(0, path.lastIndexOf('/')));

/** A folder as lines name it; the top level is '.'. */
export const folderName = (folder) => folder || '.';

/**
 * Records the CLUT files that one choice or one drop hands over, by folder
 * (`cluts`: Map folder -> { path, file } or { paths } when there are two or
 * more). Each replaces what an earlier choice gave its folder.
 */
export function handOverCluts(cluts, entries) {
  const byFolder = new Map();
  for (const entry of entries) {
    const folder = folderOf(entry.path);
    byFolder.set(folder, [...(byFolder.get(folder) ?? []), entry]);
  }
  for (const [folder, handed] of byFolder) {
    cluts.set(folder, handed.length === 1 ? handed[0] : { paths: handed.map((e) => e.path).sort() });
  }
}

/**
 * The CLUT for the image at `path`: the one chosen for every image, or the
 * one in its folder, or the nearest above. { clut } (null: the default
 * colours) or { ambiguous: folder } when that folder was handed two or more.
 */
export function clutFor(path, chosen, cluts) {
  if (chosen) return { clut: chosen };
  for (let folder = folderOf(path); ; folder = folderOf(folder)) {
    const found = cluts.get(folder);
    if (found) return found.paths ? { ambiguous: folder } : { clut: found };
    if (folder === '') return { clut: null };
  }
}

/**
 * A name that no unzip can take outside its folder: each backslash becomes
 * '_', and empty, '.' and '..' components go.
 */
export function safeName(path) {
  const parts = path.replaceAll('\\', '_').split('/').filter((p) => p !== '' && p !== '.' && p !== '..');
  return parts.length > 0 ? parts.join('/') : '_';
}

/**
 * Names for the zip, in the order given: out/ and the safe path, with
 * ' (2)', ' (3)' ... before the extension of a name already taken (letter
 * case aside, as Windows and macOS take them).
 */
export function storedNames(paths) {
  const taken = new Set();
  return paths.map((path) => {
    const name = `out/${safeName(path)}`;
    const dot = name.lastIndexOf('.');
    const [stem, extension] = dot > name.lastIndexOf('/') ? [name.slice(0, dot), name.slice(dot)] : [name, ''];
    let stored = name;
    for (let n = 2; taken.has(stored.toLowerCase()); n++) stored = `${stem} (${n})${extension}`;
    taken.add(stored.toLowerCase());
    return stored;
  });
}

/** The largest zip the page hands to a download: browsers cancel larger ones. */
export const zipLimit = 240 * 1024 * 1024;

/**
 * A zip of stored (uncompressed) files, [{ name, bytes }], as a list of
 * parts for a Blob: UTF-8 names, made by Unix with mode 0644, dated `when`.
 * Throws a RangeError past what one zip without its 64-bit extension or one
 * download can hold.
 */
export function zipParts(files, crc32, when, limit = zipLimit) {
  const encoder = new TextEncoder();
  const parts = [];
  const central = [];
  let offset = 0;
  const time = (when.getHours() << 11) | (when.getMinutes() << 5) | (when.getSeconds() >> 1);
  const date = ((when.getFullYear() - 1980) << 9) | ((when.getMonth() + 1) << 5) | when.getDate();
  const header = (size) => { const b = new Uint8Array(size); return [b, new DataView(b.buffer)]; };
  const size = files.reduce((sum, f) => sum + 76 + 2 * encoder.encode(f.name).length + f.bytes.length, 22);
  if (size > limit || files.length >= 2 ** 16) {
    throw new RangeError(`The zip would take ${Math.ceil(size / 2 ** 20)} MiB, more than a browser ` +
      'hands over in one download: save the images one by one with their own links.');
  }
  for (const file of files) {
    const name = encoder.encode(file.name);
    const crc = crc32(file.bytes);
    // The fields both headers hold, from the version needed on: stored
    // (method 0), names in UTF-8, the date, the CRC, the sizes, the name's length.
    const common = (view, at) => {
      view.setUint16(at, 20, true);
      view.setUint16(at + 2, 0x0800, true);
      view.setUint16(at + 6, time, true);
      view.setUint16(at + 8, date, true);
      view.setUint32(at + 10, crc, true);
      view.setUint32(at + 14, file.bytes.length, true);
      view.setUint32(at + 18, file.bytes.length, true);
      view.setUint16(at + 22, name.length, true);
    };
    const [local, l] = header(30);
    l.setUint32(0, 0x04034b50, true);
    common(l, 4);
    const [entry, c] = header(46);
    c.setUint32(0, 0x02014b50, true);
    c.setUint16(4, (3 << 8) | 20, true); // made by Unix, so that unzip reads the names as UTF-8
    common(c, 6);
    c.setUint32(38, (0o100644 << 16) >>> 0, true); // a regular file, rw-r--r--
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
  return [...parts, ...central, end];
}
