// The npm package against the command: for every image and CLUT below,
// convert() gives the bytes the command leaves and the result its line
// says, imported and required alike. It survives any call; every result
// of the library has its name, its type and its own line on the page.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join } from 'node:path';
import { command, damagedCases, examples, put, tempDir, top, webDir } from './support.mjs';

const esm = await import(join(webDir, 'package', 'palfill.js'));
const cjs = createRequire(import.meta.url)(join(webDir, 'package'));
const { convert, version, RESULTS } = esm;

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

test('the package says its version and every result of the library, each with its own line', async () => {
  assert.match(version, /^\d+\.\d+\.\d+$/);
  assert.equal(cjs.version, version);
  // palfill.h's palfill_result, value by value.
  const header = readFileSync(join(top, 'include', 'palfill.h'), 'utf8');
  const values = [...header.matchAll(/PALFILL_(\w+) = (\d+)/g)].map(([, name, value]) => [Number(value), name]);
  assert.deepEqual(RESULTS, values.sort((a, b) => a[0] - b[0]).map(([, name]) => name.toLowerCase()));
  const types = readFileSync(join(webDir, 'package', 'palfill.d.ts'), 'utf8');
  for (const result of RESULTS) assert.ok(types.includes(`'${result}'`), `${result} in palfill.d.ts`);
  const { lineFor, zipParts } = await import(join(top, 'web', 'page-model.js'));
  // A zip past what a browser hands over is refused with a reason, not cancelled in silence.
  const files = [{ name: 'out/a.png', bytes: new Uint8Array(1000) }];
  assert.equal(zipParts(files, () => 0, new Date(), 1200).length, 6);
  assert.throws(() => zipParts(files, () => 0, new Date(), 1100), /one by one/);
  const lines = [...RESULTS, 'unknown_result_99'].map((r) => lineFor(r, 'in.png', 'out/in.png', 'c.clt'));
  assert.equal(new Set(lines).size, lines.length - 1, 'one line for each, the two early ends alike');
  assert.equal(lines.at(-1), 'Error : Unknown result (unknown_result_99)');
});

test('convert refuses what is not bytes before it allocates, and works on after any call', () => {
  const png = new Uint8Array(readFileSync(join(examples, 'sample.png')));
  const want = convert(png);
  assert.equal(want.result, 'finished');
  const detached = () => { const b = new Uint8Array(16); structuredClone(b.buffer, { transfer: [b.buffer] }); return b; };
  for (const [what, args] of [['a string', ['not bytes']], ['an ArrayBuffer', [png.buffer]],
    ['a detached PNG', [detached()]], ['a detached CLUT', [png, detached()]], ['an array CLUT', [png, [1, 2]]]]) {
    for (const module of [esm, cjs]) assert.throws(() => module.convert(...args), TypeError, what);
  }
  // Each of these would leak 10 MiB of the module's 4 GiB were the PNG
  // copied in before the CLUT was refused.
  const big = new Uint8Array(10 << 20);
  for (let i = 0; i < 500; i++) assert.throws(() => convert(big, detached()), TypeError);
  assert.deepEqual(convert(png), want);

  // Past 2 GiB, addresses come back as negative numbers unless read as
  // unsigned: a 1 GiB image, then one of 2.02 GiB, which cannot fit.
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
  assert.deepEqual(convert(png), want);
});
