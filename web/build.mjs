// Assembles the page and the npm package from the WebAssembly module:
//   node web/build.mjs WASM VERSION OUT_DIR
// writes OUT_DIR/palfill.html, one file with everything inlined, and the
// package's files in OUT_DIR/package/ for `npm pack`. The library's
// results, for RESULTS and the package's types, are read from palfill.h's
// palfill_result, their one list.
import { mkdirSync, readFileSync, writeFileSync, copyFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const [wasmPath, version, outDir] = process.argv.slice(2);
if (!outDir) throw new Error('usage: node web/build.mjs WASM VERSION OUT_DIR');
const here = dirname(fileURLToPath(import.meta.url));
const read = (name) => readFileSync(join(here, name), 'utf8');
const wasmBase64 = readFileSync(wasmPath).toString('base64');

// palfill_result's members, by value, as the package names them.
const header = readFileSync(join(here, '..', 'include', 'palfill.h'), 'utf8');
const enumBody = header.match(/typedef enum palfill_result \{([\s\S]*?)\} palfill_result;/);
const results = [...(enumBody ? enumBody[1] : '').matchAll(/PALFILL_(\w+) = (\d+)/g)]
  .map(([, name, value]) => [Number(value), `'${name.toLowerCase()}'`]);
if (results.length === 0 || results.some(([value], i) => value !== i)) {
  throw new Error('palfill.h: palfill_result is not 0, 1, 2 ... in order');
}
const names = results.map(([, name]) => name);
const withResults = (text) => {
  if (!text.includes('/* palfill.h: results */')) throw new Error('no place for the results');
  return text.replace('/* palfill.h: results */', names.join(', '));
};
const moduleSource = withResults(read('palfill.js'));
const types = read('palfill.d.ts').replace('/* palfill.h: result names */', names.map((n) => `\n  | ${n}`).join(''));
if (types.includes('palfill.h:')) throw new Error('no place for the result names in palfill.d.ts');

// The page: its model and its own script on the page's thread; the module
// (its import and exports taken out), the zip writer and the worker's
// script in the worker, which the page makes from the text it carries.
// The worker is a classic one, which a page opened from file:// can make
// from a blob: address (a module worker it cannot): it compiles the module
// at once, as a worker may.
const syncCompile = (text) => text.replace(/^const wasmModule = await .*\/\/ palfill:compile$/m,
  'const wasmModule = new WebAssembly.Module(decodeBase64(wasmBase64));');
const moduleCode = syncCompile(moduleSource)
  .replace(/^import \{ wasmBase64 \} from '\.\/palfill-wasm\.js';$/m, `const wasmBase64 = '${wasmBase64}';`)
  .replace(/^export /gm, '');
if (moduleCode.includes("from './palfill-wasm.js'") || /^[^/]*\bawait /m.test(moduleCode)) {
  throw new Error('the module was not made into a classic script');
}
const unexported = (name) => read(name).replace(/^export /gm, '');
const workerCode = `${moduleCode}\n${unexported('zip.js')}\n${read('worker.js')}`;
if (/<\/script/i.test(workerCode)) throw new Error('the worker\'s text would end its script element');
const page = read('page.html')
  .replace('/*STYLE*/', () => read('page.css'))
  .replace('/*WORKER*/', () => workerCode)
  .replace('/*SCRIPT*/', () => `${unexported('page-model.js')}\n${read('page.js')}`);
mkdirSync(outDir, { recursive: true });
writeFileSync(join(outDir, 'palfill.html'), page);

const pkg = join(outDir, 'package');
mkdirSync(pkg, { recursive: true });
const wasmNote = "// palfill's core as WebAssembly, in base64: no file to fetch, in Node or a browser.\n";
writeFileSync(join(pkg, 'palfill-wasm.js'), `${wasmNote}export const wasmBase64 = '${wasmBase64}';\n`);
writeFileSync(join(pkg, 'palfill-wasm.cjs'), `${wasmNote}exports.wasmBase64 = '${wasmBase64}';\n`);
writeFileSync(join(pkg, 'palfill.js'), moduleSource);
writeFileSync(join(pkg, 'palfill.d.ts'), types);
writeFileSync(join(pkg, 'palfill.d.cts'), types);

// The same module for require(): CommonJS cannot await, and Node compiles
// the module synchronously (browsers take the ES module).
const exported = [...moduleSource.matchAll(/^export (?:const|function) (\w+)/gm)].map((m) => m[1]);
const commonJs = syncCompile(moduleSource)
  .replace(/^import \{ wasmBase64 \} from '\.\/palfill-wasm\.js';$/m, "const { wasmBase64 } = require('./palfill-wasm.cjs');")
  .replace(/^export /gm, '');
if (/^import |^export |^[^/]*\bawait /m.test(commonJs)) throw new Error('palfill.cjs still has ES module syntax');
writeFileSync(join(pkg, 'palfill.cjs'), `'use strict';\n${commonJs}\nmodule.exports = { ${exported.join(', ')} };\n`);
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
