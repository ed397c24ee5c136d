// What the page decides without the browser's help, apart so that Node can
// test it: which CLUT an image takes (palfill-tree's rule, held to the same
// table of trees, tests/trees.txt), and names for the zip and the folder
// that every unzip and every file system keeps apart.

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

/** How file systems that ignore letter case or Unicode normalisation see a name. */
const sameAs = (name) => name.normalize('NFC').toLowerCase();

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
export function storedNames(paths, top = 'out') {
  const folders = new Map(); // a folder as the paths name it, seen as one -> its stored name
  const files = new Set(); // stored files, seen as one
  const storedFolders = new Set();
  return paths.map((path) => {
    const parts = safeName(path).split('/');
    let folder = top;
    for (const part of parts.slice(0, -1)) {
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
    const last = parts.at(-1);
    let stored = `${folder}/${last}`;
    for (let n = 2; files.has(sameAs(stored)) || storedFolders.has(sameAs(stored)); n++) {
      stored = `${folder}/${numbered(last, n)}`;
    }
    files.add(sameAs(stored));
    return stored;
  });
}
