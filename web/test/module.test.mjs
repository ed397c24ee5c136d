// The npm package against the command: for every image and CLUT below,
// convert() gives the bytes the command leaves and the result its line
// says, imported and required alike. It survives any call and lets large
// memory go; every result of the library has its name and its type. And
// the page's own decisions: the CLUT each image takes, against
// palfill-tree's table of trees, names kept apart, zips cut to one download.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readdirSync, readFileSync, rmSync, statSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join } from 'node:path';
import v8 from 'node:v8';
import vm from 'node:vm';
import { spawnSync } from 'node:child_process';
import { build, command, damagedCases, examples, makeTree, pageModule, put, tempDir, top, trees, webDir } from './support.mjs';

const esm = await import(join(webDir, 'package', 'palfill.js'));
const cjs = createRequire(import.meta.url)(join(webDir, 'package'));
const { convert, version, RESULTS } = esm;
// The collector on call, to see what memory the module keeps, not what
// garbage waits.
v8.setFlagsFromString('--expose-gc');
const gc = vm.runInNewContext('gc');

const lineResult = (line) =>
  line.startsWith('Finished ') ? 'finished'
    : line === 'Error : Not a PNG format' ? 'not_png'
      : line === 'Error : Unexpected EOF' ? 'eof'
        : line === 'Error : Unknown depth (3)' ? 'unknown_depth'
          : line.startsWith('Error : Not a CLUT file ') ? 'not_a_clut' : line;

test('convert gives the command\'s bytes and outcome for every case, imported or required', () => {
  const dir = tempDir();
  const images = [['sample.png', readFileSync(join(examples, 'sample.png'))], ...damagedCases()];
  const ycbcr = readFileSync(join(examples, 'ycbcr.clt'));
  const cluts = [null, ['rgb.clt', readFileSync(join(examples, 'rgb.clt'))], ['ycbcr.clt', ycbcr],
    ['cut.clt', ycbcr.subarray(0, 100)], ['empty.clt', new Uint8Array(0)], ['depth3.clt', Buffer.from([0x60])],
    ['image.clt', readFileSync(join(examples, 'sample-4bit.png'))]];
  for (const clut of cluts) {
    if (clut) put(dir, clut[0], clut[1]);
    for (const [name, png] of images) {
      put(dir, name, png);
      rmSync(join(dir, 'out.png'), { force: true });
      const want = command(dir, name, clut ? clut[0] : null, 'out.png');
      for (const [how, module] of [['imported', esm], ['required', cjs]]) {
        const got = module.convert(new Uint8Array(png), clut ? new Uint8Array(clut[1]) : undefined);
        const what = `${name} with ${clut ? clut[0] : 'the default colours'}, ${how}`;
        const result = got.result === 'unexpected_eof' || got.result === 'clut_unexpected_eof' ? 'eof' : got.result;
        assert.equal(result, lineResult(want.line), what);
        assert.deepEqual(got.bytes, want.bytes ?? new Uint8Array(0), what);
      }
    }
  }
  rmSync(dir, { recursive: true });
});

test('the package says its version and every result of the library, as the module has them', () => {
  const tree = spawnSync(join(build, 'palfill-tree'), ['--version'], { encoding: 'utf8' });
  assert.equal(`palfill-tree ${version}\n`, tree.stdout);
  assert.equal(cjs.version, version);
  assert.deepEqual(cjs.RESULTS, RESULTS);
  assert.equal(RESULTS[0], 'finished');
  assert.ok(RESULTS.length >= 11 && new Set(RESULTS).size === RESULTS.length);
  const types = readFileSync(join(webDir, 'package', 'palfill.d.ts'), 'utf8');
  for (const result of RESULTS) assert.ok(types.includes(`'${result}'`), `${result} in palfill.d.ts`);
});

// The page plans each tree of palfill-tree's table through its own module,
// as palfill-tree --plan does: the same rows, the same lines of its own. The
// page is handed files alone: trees of links, pipes or names only POSIX
// has are left out.
test('the page plans every tree of palfill-tree\'s table as --plan does', async () => {
  const { holder, planTree } = await pageModule();
  let checked = 0;
  for (const tree of trees().filter((t) => !t.posix && !t.lines.some((line) => line.target))) {
    const dir = tempDir();
    makeTree(dir, tree.lines);
    const every = tree.args.includes('--clut') ? tree.args[tree.args.indexOf('--clut') + 1] : '';
    const inDir = tree.args.filter((arg, i) => arg !== '--' && arg !== '--clut' && tree.args[i - 1] !== '--clut')[0];
    const run = spawnSync(join(build, 'palfill-tree'), ['--plan', ...(every ? ['--clut', every] : []), '--', inDir],
      { cwd: dir, encoding: 'utf8' });
    const files = [];
    const walk = (folder) => {
      for (const name of readdirSync(join(dir, folder))) {
        const path = `${folder}/${name}`;
        if (statSync(join(dir, path)).isDirectory()) walk(path);
        else files.push({ path: path.slice(inDir.length + 1), bytes: /\.(bml|css)$/i.test(name) ? readFileSync(join(dir, path)) : null });
      }
    };
    walk(inDir);
    const { rows, notices } = planTree(holder, inDir, every, files);
    const given = (row) => (every && row.why === '--clut' ? { ...row, clut: 'given' } : row);
    assert.deepEqual(rows.map((row) => Object.values(given(row)).join('\t')),
      run.stdout.split('\n').filter(Boolean).map((line) => (every ? line.replace(/\t\/[^\t]*\t--clut$/, '\tgiven\t--clut') : line)),
      tree.name);
    assert.deepEqual(notices.map((n) => `${n.who}: ${n.line}`), run.stderr.split('\n').filter(Boolean), tree.name);
    checked += rows.length;
    rmSync(dir, { recursive: true });
  }
  assert.ok(checked >= 50, `${checked} renderings checked`);
});

// Names every unzip and every file system keeps apart, and zips that each
// fit one download and together hold everything once.
test('names for the zip and the folder never fall together, and zips are cut to one download each', async () => {
  const { storedNames } = await import(join(top, 'web', 'names.js'));
  const { splitIntoZips, zipSize, zipEntryLimit } = await import(join(top, 'web', 'zip.js'));
  const cases = [
    [['が.png', 'が.png'.normalize('NFD')], ['out/が.png', `out/${'が (2).png'.normalize('NFD')}`]],
    [['A.PNG', 'a.png', 'a (2).png'], ['out/A.PNG', 'out/a (2).png', 'out/a (2) (2).png']],
    [['x.png', 'x.png/y.png'], ['out/x.png', 'out/x (2).png/y.png']],
    [['x.png/y.png', 'x.png'], ['out/x.png/y.png', 'out/x (2).png']],
    [['Dir/a.png', 'dir/b.png', 'DIR/A.png'], ['out/Dir/a.png', 'out/Dir/b.png', 'out/Dir/A (2).png']],
    [['s.png', 'ſ.png', 'σ.png', 'ς.png', 'ss.png', 'ß.png'],
      ['out/s.png', 'out/ſ (2).png', 'out/σ.png', 'out/ς (2).png', 'out/ss.png', 'out/ß (2).png']],
    [['..\\..\\evil.png', '/abs/./x.png'], ['out/.._.._evil.png', 'out/abs/x.png']],
  ];
  for (const [paths, want] of cases) assert.deepEqual(storedNames(paths), want, paths.join(', '));
  const entries = Array.from({ length: zipEntryLimit + 10 }, (_, i) => ({ name: `out/${i}.png`, size: 100 }));
  const { parts, tooLarge } = splitIntoZips([...entries, { name: 'out/huge.png', size: 5000 }], 4000);
  assert.deepEqual(tooLarge.map((e) => e.name), ['out/huge.png']);
  assert.deepEqual(parts.flat(), entries);
  for (const part of parts) assert.ok(zipSize(part) <= 4000 && part.length <= zipEntryLimit);
  assert.equal(splitIntoZips(entries).parts.length, 2, 'past 65,535 entries, a second zip');
  // Bytes gathered into blocks, Blobs and large entries as pieces of their
  // own, in any order: each entry at its offset, unzip's CRC checks pass.
  const page = await pageModule();
  const { zipBlob } = await import(join(top, 'web', 'zip.js'));
  const contents = [Buffer.from('small'), Buffer.alloc(40, 7), Buffer.from(''), Buffer.from('a Blob'),
    Buffer.alloc(50, 9), Buffer.from('after')];
  const zipped = contents.map((bytes, i) => ({
    name: `out/${i}.png`, size: bytes.length, crc: page.crcOf(page.holder, bytes),
    data: i % 3 === 0 ? new Uint8Array(bytes) : i % 3 === 1 ? new Blob([bytes]) : () => Promise.resolve(new Blob([bytes])) }));
  const dir = tempDir();
  put(dir, 'all.zip', Buffer.from(await (await zipBlob(zipped, new Date(2026, 11, 9), 16)).arrayBuffer()));
  assert.equal(spawnSync('unzip', ['-tq', join(dir, 'all.zip')]).status, 0, 'unzip -t');
  contents.forEach((bytes, i) => assert.deepEqual(spawnSync('unzip', ['-p', join(dir, 'all.zip'), `out/${i}.png`]).stdout, bytes));
  rmSync(dir, { recursive: true });
});

test('convert refuses what is not bytes before it allocates, takes bytes from any realm, and works on after any call', () => {
  const png = new Uint8Array(readFileSync(join(examples, 'sample.png')));
  const want = convert(png);
  assert.equal(want.result, 'finished');
  const detached = () => { const b = new Uint8Array(16); structuredClone(b.buffer, { transfer: [b.buffer] }); return b; };
  for (const [what, args] of [['a string', ['not bytes']], ['an ArrayBuffer', [png.buffer]],
    ['a detached PNG', [detached()]], ['a detached CLUT', [png, detached()]], ['an array CLUT', [png, [1, 2]]]]) {
    for (const module of [esm, cjs]) assert.throws(() => module.convert(...args), TypeError, what);
  }
  // A Uint8Array made in another realm (a vm context, as jsdom and iframes make them).
  const foreign = vm.runInNewContext('(bytes) => new Uint8Array(bytes)')(png);
  assert.equal(foreign instanceof Uint8Array, false);
  for (const module of [esm, cjs]) assert.deepEqual(module.convert(foreign, foreign.subarray(0, 0)), convert(png, new Uint8Array(0)));
  assert.throws(() => convert(vm.runInNewContext('new DataView(new ArrayBuffer(8))')), TypeError);
  // Each of these would leak 10 MiB of the module's 4 GiB were the PNG
  // copied in before the CLUT was refused.
  const big = new Uint8Array(10 << 20);
  for (let i = 0; i < 500; i++) assert.throws(() => convert(big, detached()), TypeError);
  assert.deepEqual(convert(png), want);

  // Past 2 GiB, addresses come back as negative numbers unless read as
  // unsigned: a 1 GiB image, then one of 2.02 GiB, which cannot fit. The
  // memory they took goes back: within 128 MiB of what the process held.
  gc();
  const before = process.memoryUsage().rss;
  (() => { // the test's own bytes, gone when this ends
    const idat = 1 << 30;
    const huge = new Uint8Array(idat + 64);
    huge.set(png.subarray(0, 33));
    new DataView(huge.buffer).setUint32(33, idat);
    huge.set([73, 68, 65, 84], 37);
    huge.set([0, 0, 0, 0, 73, 69, 78, 68, 0xae, 0x42, 0x60, 0x82], 33 + 12 + idat);
    const first = convert(huge.subarray(0, 33 + 24 + idat));
    assert.equal(first.result, 'finished');
    assert.equal(first.bytes.length, 33 + 24 + idat + 780 + 268);
    const second = convert(new Uint8Array(2.02 * 2 ** 30));
    assert.equal(second.result, 'out_of_memory');
  })();
  assert.deepEqual(convert(png), want);
  return (async () => {
    // Memory a collection frees goes back to the system a little later.
    let after = Infinity;
    for (let tries = 0; tries < 20 && after - before >= 128 * 2 ** 20; tries++) {
      gc();
      await new Promise((resolve) => setTimeout(resolve, 100));
      after = process.memoryUsage().rss;
    }
    assert.ok(after - before < 128 * 2 ** 20, `${Math.round((after - before) / 2 ** 20)} MiB kept`);
  })();
});
