// Assembles the page and the npm package from the WebAssembly module:
//   node web/build.mjs WASM VERSION OUT_DIR
// writes OUT_DIR/palfill.html, one file with everything inlined, and the
// package's files in OUT_DIR/package/ for `npm pack`.
import { mkdirSync, readFileSync, writeFileSync, copyFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const [wasmPath, version, outDir] = process.argv.slice(2);
if (!outDir) throw new Error('usage: node web/build.mjs WASM VERSION OUT_DIR');
const here = dirname(fileURLToPath(import.meta.url));
const read = (name) => readFileSync(join(here, name), 'utf8');
const wasmBase64 = readFileSync(wasmPath).toString('base64');

// The page: the module's code with its import and exports taken out, then
// the page's own script.
const moduleCode = read('palfill.js')
  .replace(/^import \{ wasmBase64 \} from '\.\/palfill-wasm\.js';$/m, `const wasmBase64 = '${wasmBase64}';`)
  .replace(/^export /gm, '');
if (moduleCode.includes("from './palfill-wasm.js'")) throw new Error('the module import was not inlined');
const pageModel = read('page-model.js').replace(/^export /gm, '');
const page = read('page.html')
  .replace('/*STYLE*/', () => read('page.css'))
  .replace('/*SCRIPT*/', () => `${moduleCode}\n${pageModel}\n${read('page.js')}`);
mkdirSync(outDir, { recursive: true });
writeFileSync(join(outDir, 'palfill.html'), page);

const pkg = join(outDir, 'package');
mkdirSync(pkg, { recursive: true });
const wasmNote = "// palfill's core as WebAssembly, in base64: no file to fetch, in Node or a browser.\n";
writeFileSync(join(pkg, 'palfill-wasm.js'), `${wasmNote}export const wasmBase64 = '${wasmBase64}';\n`);
writeFileSync(join(pkg, 'palfill-wasm.cjs'), `${wasmNote}exports.wasmBase64 = '${wasmBase64}';\n`);
copyFileSync(join(here, 'palfill.js'), join(pkg, 'palfill.js'));
copyFileSync(join(here, 'palfill.d.ts'), join(pkg, 'palfill.d.ts'));
copyFileSync(join(here, 'palfill.d.ts'), join(pkg, 'palfill.d.cts'));

// The same module for require(): CommonJS cannot await, and Node compiles
// the module synchronously (browsers take the ES module).
const names = [...read('palfill.js').matchAll(/^export (?:const|function) (\w+)/gm)].map((m) => m[1]);
const commonJs = read('palfill.js')
  .replace(/^import \{ wasmBase64 \} from '\.\/palfill-wasm\.js';$/m, "const { wasmBase64 } = require('./palfill-wasm.cjs');")
  .replace(/^const \{ instance \} = await .*\/\/ palfill:instantiate$/m,
    'const instance = new WebAssembly.Instance(new WebAssembly.Module(decodeBase64(wasmBase64)), {});')
  .replace(/^export /gm, '');
if (/^import |^export |^[^/]*\bawait /m.test(commonJs)) throw new Error('palfill.cjs still has ES module syntax');
writeFileSync(join(pkg, 'palfill.cjs'), `'use strict';\n${commonJs}\nmodule.exports = { ${names.join(', ')} };\n`);
copyFileSync(join(here, 'package-readme.md'), join(pkg, 'README.md'));
copyFileSync(join(here, '..', 'LICENSE'), join(pkg, 'LICENSE'));
writeFileSync(join(pkg, 'package.json'), JSON.stringify({
  name: 'palfill',
  version,
  description: 'Give the palette-less indexed PNGs of Japanese data broadcasts their palette, in WebAssembly',
  license: 'MIT',
  type: 'module',
  main: './palfill.cjs',
  types: './palfill.d.ts',
  exports: {
    '.': {
      import: { types: './palfill.d.ts', default: './palfill.js' },
      require: { types: './palfill.d.cts', default: './palfill.cjs' },
    },
  },
  files: ['palfill.js', 'palfill-wasm.js', 'palfill.cjs', 'palfill-wasm.cjs', 'palfill.d.ts',
    'palfill.d.cts', 'README.md', 'LICENSE'],
  engines: { node: '>=18' },
  keywords: ['png', 'palette', 'arib', 'clut', 'data-broadcasting', 'webassembly'],
}, null, 2) + '\n');
