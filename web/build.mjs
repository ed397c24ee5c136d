// Builds the page and the npm package from the two WebAssembly modules:
//   node web/build.mjs MODULE_WASM PAGE_WASM VERSION OUT_DIR [--zip-limit BYTES]
// writes OUT_DIR/palfill.html, one file with everything inlined that opens
// from file://, and the package's files in OUT_DIR/package/ for `npm pack`.
// The sources are ES modules that import what they use; the page's thread
// and its worker are each bundled from them here, every module in a scope
// of its own. --zip-limit writes only a page whose zips are at most BYTES,
// as a test needs (web/zip-limit.js stands in for the limit).
import { mkdirSync, readFileSync, writeFileSync, copyFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { deflateRawSync } from 'node:zlib';

const args = process.argv.slice(2);
const limitAt = args.indexOf('--zip-limit');
const zipLimit = limitAt === -1 ? null : Number(args.splice(limitAt, 2)[1]);
const [moduleWasm, pageWasm, version, outDir] = args;
if (!outDir) throw new Error('usage: node web/build.mjs MODULE_WASM PAGE_WASM VERSION OUT_DIR [--zip-limit BYTES]');
const here = dirname(fileURLToPath(import.meta.url));
const read = (name) => readFileSync(join(here, name), 'utf8');
const moduleBytes = readFileSync(moduleWasm);

// The library's results, by value, as the module names them: the one list
// the package's RESULTS and types are written from.
const { instance } = await WebAssembly.instantiate(moduleBytes, {});
instance.exports._initialize();
const results = [];
for (let value = 0; ; value++) {
  const at = instance.exports.palfill_web_result_name(value) >>> 0;
  if (at === 0) break;
  const memory = new Uint8Array(instance.exports.memory.buffer);
  results.push(`'${new TextDecoder().decode(memory.subarray(at, memory.indexOf(0, at))).toLowerCase()}'`);
}
const placed = (text, mark, value) => {
  if (!text.includes(mark)) throw new Error(`no place for ${mark}`);
  return text.replace(mark, value);
};

// ---- Bundling: each module in a function of its own, in the order they
// import each other, its imports taken from those it imports.

const importPattern = /^import\s*\{([^}]*)\}\s*from\s*'\.\/([\w-]+\.js)';\n/gm;
const exportPattern = /^export (?:async )?(?:function\*? |const |let |class )(\w+)/gm;

// A module's text without its comments, blank lines and indentation,
// which the page carries for nothing: a line that is a comment, or lies in
// a block comment that begins a line. No string of these sources spans
// two lines.
function withoutComments(source) {
  let inBlock = false;
  return source.split('\n').filter((line) => {
    const text = line.trim();
    const dropped = inBlock || text === '' || text.startsWith('//') || text.startsWith('/*');
    if (text.startsWith('/*') || inBlock) inBlock = !text.endsWith('*/');
    if (!dropped && (text.match(/`/g) ?? []).length % 2 === 1) throw new Error(`a template string spans lines: ${text}`);
    return !dropped;
  }).map((line) => line.trimStart()).join('\n');
}

function bundle(entry, sources) {
  const order = [];
  const visit = (name, path = []) => {
    if (order.includes(name)) return;
    if (path.includes(name)) throw new Error(`${[...path, name].join(' -> ')}: modules that import each other`);
    const source = sources[name] ?? read(name);
    for (const [, , dependency] of source.matchAll(importPattern)) visit(dependency, [...path, name]);
    order.push(name);
  };
  visit(entry);
  const scope = (name) => `module_${name.replace(/\W/g, '_')}`;
  return order.map((name) => {
    const source = sources[name] ?? read(name);
    const names = [...source.matchAll(exportPattern)].map(([, exported]) => exported);
    const body = source
      .replace(importPattern, (_, list, dependency) =>
        `const {${list.replace(/\bas\b/g, ':')}} = ${scope(dependency)};\n`)
      .replace(/^export /gm, '');
    if (/^(import|export) /m.test(body)) throw new Error(`${name}: an import or export the bundle cannot take`);
    return name === entry ? `(() => {\n${body}})();\n`
      : `const ${scope(name)} = (() => {\n${body}return { ${names.join(', ')} };\n})();\n`;
  }).join('\n');
}

// The npm module, compiled at once where a script cannot await.
const moduleSource = placed(read('palfill.js'), '/* palfill.h: results */', results.join(', '));
function syncCompile(text) {
  const compiled = text.replace(/^(const wasmModule = )await WebAssembly\.compile\((.*)\); \/\/ palfill:compile$/m,
    '$1new WebAssembly.Module($2);');
  if (compiled === text) throw new Error('palfill.js: no compile to make synchronous');
  return compiled;
}
const base64Module = (name, bytes) => `export const ${name} = '${bytes.toString('base64')}';\n`;

// ---- The page: its thread and its worker, each one script.

const pageSources = {
  'page-wasm.js': base64Module('pageWasmBase64', deflateRawSync(readFileSync(pageWasm), { level: 9 })),
  ...(zipLimit === null ? {} : { 'zip-limit.js': `export const zipLimit = ${zipLimit};\n` }),
};
const workerCode = withoutComments(bundle('worker.js', pageSources));
const pageCode = withoutComments(bundle('page.js', pageSources));
if (/<\/script/i.test(workerCode + pageCode)) throw new Error('a script would end its script element');
const page = read('page.html')
  .replace('/*STYLE*/', () => read('page.css'))
  .replace('/*WORKER*/', () => workerCode)
  .replace('/*SCRIPT*/', () => pageCode);
mkdirSync(outDir, { recursive: true });
writeFileSync(join(outDir, zipLimit === null ? 'palfill.html' : `palfill-zips-of-${zipLimit}.html`), page);
if (zipLimit !== null) process.exit(0);

// ---- The npm package: the modules as they are, for import, and one
// script for require(), which cannot await.

const pkg = join(outDir, 'package');
mkdirSync(pkg, { recursive: true });
const wasmNote = "// palfill's core as WebAssembly, in base64: no file to fetch, in Node or a browser.\n";
writeFileSync(join(pkg, 'palfill-wasm.js'), wasmNote + base64Module('wasmBase64', moduleBytes));
writeFileSync(join(pkg, 'palfill.js'), moduleSource);
writeFileSync(join(pkg, 'wasm-instance.js'), read('wasm-instance.js'));
const exported = [...moduleSource.matchAll(exportPattern)].map(([, name]) => name);
const commonJs = bundle('palfill.js', {
  'palfill.js': `${syncCompile(moduleSource)}module.exports = { ${exported.join(', ')} };\n`,
  'palfill-wasm.js': base64Module('wasmBase64', moduleBytes),
});
writeFileSync(join(pkg, 'palfill.cjs'), `'use strict';\n${commonJs}`);
const types = placed(read('palfill.d.ts'), '/* palfill.h: result names */', results.map((n) => `\n  | ${n}`).join(''));
writeFileSync(join(pkg, 'palfill.d.ts'), types);
writeFileSync(join(pkg, 'palfill.d.cts'), types);
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
  files: ['palfill.js', 'wasm-instance.js', 'palfill-wasm.js', 'palfill.cjs', 'palfill.d.ts', 'palfill.d.cts',
    'README.md', 'LICENSE'],
  engines: { node: '>=18' },
  keywords: ['png', 'palette', 'arib', 'clut', 'data-broadcasting', 'webassembly'],
}, null, 2) + '\n');
