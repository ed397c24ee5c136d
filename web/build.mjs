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
const page = read('page.html')
  .replace('/*STYLE*/', () => read('page.css'))
  .replace('/*SCRIPT*/', () => moduleCode + '\n' + read('page.js'));
mkdirSync(outDir, { recursive: true });
writeFileSync(join(outDir, 'palfill.html'), page);

const pkg = join(outDir, 'package');
mkdirSync(pkg, { recursive: true });
writeFileSync(join(pkg, 'palfill-wasm.js'),
  `// palfill's core as WebAssembly, in base64: no file to fetch, in Node or a browser.\nexport const wasmBase64 = '${wasmBase64}';\n`);
copyFileSync(join(here, 'palfill.js'), join(pkg, 'palfill.js'));
copyFileSync(join(here, 'palfill.d.ts'), join(pkg, 'palfill.d.ts'));
copyFileSync(join(here, 'package-readme.md'), join(pkg, 'README.md'));
copyFileSync(join(here, '..', 'LICENSE'), join(pkg, 'LICENSE'));
writeFileSync(join(pkg, 'package.json'), JSON.stringify({
  name: 'palfill',
  version,
  description: 'Give the palette-less indexed PNGs of Japanese data broadcasts their palette, in WebAssembly',
  license: 'MIT',
  type: 'module',
  main: './palfill.js',
  types: './palfill.d.ts',
  exports: { '.': { types: './palfill.d.ts', default: './palfill.js' } },
  files: ['palfill.js', 'palfill-wasm.js', 'palfill.d.ts', 'README.md', 'LICENSE'],
  engines: { node: '>=18' },
  keywords: ['png', 'palette', 'arib', 'clut', 'data-broadcasting', 'webassembly'],
}, null, 2) + '\n');
