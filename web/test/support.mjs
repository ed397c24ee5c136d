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
