// Names for the zip and the folder the page writes, that every unzip and
// every file system keeps apart, and the order palfill-tree prints paths
// in. The page's thread uses them; Node tests them directly.

/**
 * A name that no unzip can take outside its folder: each backslash becomes
 * '_', and empty, '.' and '..' components go.
 */
function safeName(path) {
  const parts = path.replaceAll('\\', '_').split('/').filter((p) => p !== '' && p !== '.' && p !== '..');
  return parts.length > 0 ? parts.join('/') : '_';
}

/**
 * How file systems that ignore letter case or Unicode normalisation see a
 * name: NFC, then full case folding (upper case, then lower, which folds
 * ß with ss, ſ with s and ς with σ), then NFC again.
 */
const sameAs = (name) => (/^[\0-\x7f]*$/.test(name) ? name.toLowerCase() // the same, for ASCII, without the Unicode passes
  : name.normalize('NFC').toUpperCase().toLowerCase().normalize('NFC'));

/** `name` with ' (n)' before its extension. */
function numbered(name, n) {
  const dot = name.lastIndexOf('.');
  return dot > 0 ? `${name.slice(0, dot)} (${n})${name.slice(dot)}` : `${name} (${n})`;
}

/**
 * Names under `top` for the outputs at `paths` (relative paths, in order),
 * safe and apart wherever they are unpacked or written: two names that
 * differ only in letter case or Unicode normalisation are one, so the later
 * gets ' (2)', ' (3)' ... before its extension; a file never takes a
 * folder's name, nor a folder a file's. Folders that are one merge.
 */
export const storedNames = (paths, top = 'out') => paths.map(storedNamer(top));

/**
 * storedNames() a path at a time: a function that gives the name of each
 * path it is handed, in order, so that the first names cost only their own.
 */
export function storedNamer(top = 'out') {
  const folders = new Map(); // a folder as the paths name it, seen as one -> its stored name
  const files = new Set(); // stored files, seen as one
  const storedFolders = new Set();
  const folderOf = new Map(); // a folder as the paths name it -> its stored name, once found
  const folderFor = (parts) => {
    let folder = top;
    for (const part of parts) {
      const asNamed = sameAs(`${folder}/${part}`);
      if (!folders.has(asNamed)) {
        let name = part;
        for (let n = 2; files.has(sameAs(`${folder}/${name}`)); n++) name = numbered(part, n);
        folders.set(asNamed, `${folder}/${name}`);
        folders.set(sameAs(`${folder}/${name}`), `${folder}/${name}`);
        storedFolders.add(sameAs(`${folder}/${name}`));
      }
      folder = folders.get(asNamed);
    }
    return folder;
  };
  return (path) => {
    const parts = safeName(path).split('/');
    const last = parts.pop();
    const named = parts.join('/');
    if (!folderOf.has(named)) folderOf.set(named, folderFor(parts));
    const folder = folderOf.get(named);
    let stored = `${folder}/${last}`;
    let seen = sameAs(stored);
    for (let n = 2; files.has(seen) || storedFolders.has(seen); n++) {
      stored = `${folder}/${numbered(last, n)}`;
      seen = sameAs(stored);
    }
    files.add(seen);
    return stored;
  };
}

// Paths in the order palfill-tree prints them: by code point, as UTF-8
// bytes compare. UTF-16 units compare the same way but where a surrogate
// meets U+E000 to U+FFFF, which it must come after.
const unitOrder = (unit) => (unit >= 0xe000 ? unit - 0x800 : unit >= 0xd800 ? unit + 0x2000 : unit);
export function byPath(a, b) {
  const length = Math.min(a.length, b.length);
  let i = 0;
  while (i < length && a.charCodeAt(i) === b.charCodeAt(i)) i++;
  if (i === length) return a.length - b.length;
  return unitOrder(a.charCodeAt(i)) - unitOrder(b.charCodeAt(i));
}
