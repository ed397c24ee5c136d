// What the page's and the module's tests share: where the builds are, the
// cases, and the command's own answer for each.
//   PALFILL_BUILD=build node --test web/test/
import { spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, writeFileSync, existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

export const top = resolve(dirname(fileURLToPath(import.meta.url)), '..', '..');
export const build = resolve(top, process.env.PALFILL_BUILD ?? 'build');
export const palfill = join(build, 'palfill');
export const webDir = join(build, 'web');
export const examples = join(top, 'examples');

export function tempDir() {
  return mkdtempSync(join(tmpdir(), 'palfill-web-'));
}

// Writes `bytes` at `root`/`path`, making its folders.
export function put(root, path, bytes) {
  mkdirSync(dirname(join(root, path)), { recursive: true });
  writeFileSync(join(root, path), bytes);
}

// The command run from `cwd` as `palfill IN [CLUT] OUT`: its line (without
// the newline) and what it left in OUT (null when it left nothing).
export function command(cwd, input, clut, output) {
  const args = clut === null ? [input, output] : [input, clut, output];
  const run = spawnSync(palfill, args, { cwd, encoding: 'buffer' });
  const out = join(cwd, output);
  return {
    status: run.status,
    line: run.stdout.toString('utf8').replace(/\n$/, ''),
    bytes: existsSync(out) ? new Uint8Array(readFileSync(out)) : null,
  };
}

// Damaged images: every cut of the 4-bit sample, and a file that is not a PNG.
export function damagedCases() {
  const sample = readFileSync(join(examples, 'sample-4bit.png'));
  const cases = [];
  for (let cut = 0; cut < sample.length; cut += 7) cases.push([`cut-${cut}.png`, sample.subarray(0, cut)]);
  cases.push(['text.png', Buffer.from('not a png at all')]);
  return cases;
}

// The page's own module, as its worker loads it: from the page's
// WebAssembly, deflated and in base64.
export async function pageModule() {
  const { deflateRawSync } = await import('node:zlib');
  const module = await import(join(top, 'web', 'page-module.js'));
  const bytes = readFileSync(join(webDir, 'palfill-page.wasm'));
  return { ...module, holder: await module.loadPageModule(deflateRawSync(bytes).toString('base64')) };
}

// The trees of tests/trees.txt as palfill-tree's own test reads them, the
// first round of each: { name, args, posix, lines: [{ path, content, target, source, clut }] }.
export function trees() {
  const found = [];
  for (const line of readFileSync(join(top, 'tests', 'trees.txt'), 'utf8').split('\n')) {
    if (line === '' || line.startsWith('#')) continue;
    if (line.startsWith('tree ')) found.push({ name: line.slice(5), args: ['in', 'out'], posix: false, lines: [], then: false });
    else if (line.startsWith('run ')) found.at(-1).args = line.slice(4).split(' ');
    else if (line === 'posix') found.at(-1).posix = true;
    else if (line === 'then') found.at(-1).then = true;
    else if (!found.at(-1).then) {
      const [file, clut = ''] = line.split(' -> ');
      const [named, content = ''] = file.split(' = ');
      const [path, target = ''] = named.split(' => ');
      found.at(-1).lines.push({ path: path.split(' <= ')[0], content, target, source: path.split(' <= ')[1] ?? '', clut });
    }
  }
  return found;
}

// Makes a tree's files under `root`, as palfill-tree's own test makes them.
export function makeTree(root, lines) {
  const sample = readFileSync(join(examples, 'sample.png'));
  const contents = {
    sample, sample4: readFileSync(join(examples, 'sample-4bit.png')), cut: sample.subarray(0, 300),
    text: Buffer.from('not a png at all\n'), empty: Buffer.alloc(0), signature: sample.subarray(0, 8),
    rgb: readFileSync(join(examples, 'rgb.clt')), ycbcr: readFileSync(join(examples, 'ycbcr.clt')),
    depth3: Buffer.from([0x60]), cutclt: readFileSync(join(examples, 'ycbcr.clt')).subarray(0, 100),
  };
  const unescaped = (text) => Buffer.from(text.replace(/\\x([0-9a-f]{2})/g, (_, hex) => String.fromCharCode(parseInt(hex, 16))), 'latin1');
  for (const { path, content, source } of lines) {
    const at = join(root, unescaped(path).toString('utf8'));
    if (source || existsSync(at)) continue;
    const fallback = /\.png$/i.test(path) ? sample : path.endsWith('.clt') ? contents.rgb : Buffer.from('text\n');
    put(root, unescaped(path).toString('utf8'),
      content.startsWith('text:') ? unescaped(content.slice(5)) : contents[content] ?? fallback);
  }
}
