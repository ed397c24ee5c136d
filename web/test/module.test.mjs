// The npm package against the command: for every image and CLUT below,
// convert() gives the bytes the command leaves and the result its line says.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { command, damagedCases, examples, put, tempDir, webDir } from './support.mjs';

const { convert, version } = await import(join(webDir, 'package', 'palfill.js'));

const lineResult = (line) =>
  line.startsWith('Finished ') ? 'finished'
    : line === 'Error : Not a PNG format' ? 'not_png'
      : line === 'Error : Unexpected EOF' ? 'eof'
        : line === 'Error : Unknown depth (3)' ? 'unknown_depth'
          : line.startsWith('Error : Not a CLUT file ') ? 'not_a_clut' : line;

test('convert gives the command\'s bytes and outcome for every case', () => {
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
      const got = convert(new Uint8Array(png), clut ? new Uint8Array(clut[1]) : undefined);
      const what = `${name} with ${clut ? clut[0] : 'the default colours'}`;
      const result = got.result === 'unexpected_eof' || got.result === 'clut_unexpected_eof' ? 'eof' : got.result;
      assert.equal(result, lineResult(want.line), what);
      assert.deepEqual(got.bytes, want.bytes ?? new Uint8Array(0), what);
    }
  }
  rmSync(dir, { recursive: true });
});

test('the package says its version and rejects what is not bytes', () => {
  assert.match(version, /^\d+\.\d+\.\d+$/);
  assert.throws(() => convert('not bytes'), TypeError);
});
