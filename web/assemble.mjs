// Lays out the page (site/) and the npm package (npm/) from the web sources,
// the two modules and what product.json says about the product.
//   node assemble.mjs PRODUCT_JSON SIMD_WASM BASELINE_WASM LICENSE OUT_DIR
import { createHash } from 'node:crypto';
import { copyFileSync, mkdirSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const [productJson, simdWasm, baselineWasm, licence, out] = process.argv.slice(2);
const here = dirname(fileURLToPath(import.meta.url));
const product = JSON.parse(readFileSync(productJson, 'utf8'));

// npm wants three numbers; the product's "1.0" is 1.0.0 there.
const npmVersion = [...product.version.split('.'), '0', '0'].slice(0, 3).join('.');

const words = {
  product: product.product,
  version: product.version,
  copyright: product.copyright,
  license: product.license,
  description: product.web_description,
  url: product.url,
};
const escapes = { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' };
const fill = (text, escape) =>
  text.replace(/\{\{(\w+)\}\}/g, (_, name) => {
    if (!(name in words)) throw new Error(`assemble: no product text {{${name}}}`);
    return escape(words[name]);
  });
const asHtml = (s) => s.replace(/[&<>"]/g, (c) => escapes[c]);
const asJson = (s) => JSON.stringify(s).slice(1, -1);

function lay(dir, files) {
  rmSync(dir, { recursive: true, force: true });
  mkdirSync(dir, { recursive: true });
  for (const [name, bytes] of Object.entries(files)) writeFileSync(join(dir, name), bytes);
}

const shared = {
  'glyphmosaic.js': readFileSync(join(here, 'glyphmosaic.js')),
  'glyphmosaic-simd.wasm': readFileSync(simdWasm),
  'glyphmosaic.wasm': readFileSync(baselineWasm),
};

// The page: every file the service worker keeps for offline use, named in
// it with a cache name that changes whenever any of them does.
const site = { ...shared };
for (const name of readdirSync(join(here, 'site'))) {
  const text = readFileSync(join(here, 'site', name));
  if (name === 'sw.js') continue;
  if (name.endsWith('.html')) site[name] = fill(text.toString(), asHtml);
  else if (name.endsWith('.webmanifest')) site[name] = fill(text.toString(), asJson);
  else site[name] = text;
}
const hash = createHash('sha256');
for (const name of Object.keys(site).sort()) hash.update(name).update(site[name]);
const kept = ['./', ...Object.keys(site).sort()];
site['sw.js'] = readFileSync(join(here, 'site', 'sw.js'), 'utf8')
  .replace('__CACHE__', `glyphmosaic-${product.version}-${hash.digest('hex').slice(0, 12)}`)
  .replace('__FILES__', JSON.stringify(kept));
lay(join(out, 'site'), site);

// The package.
const pkg = {
  name: 'glyphmosaic',
  version: npmVersion,
  description: product.web_description,
  license: product.license,
  homepage: product.url,
  type: 'module',
  exports: { '.': { types: './glyphmosaic.d.ts', default: './glyphmosaic.js' } },
  types: './glyphmosaic.d.ts',
  files: ['glyphmosaic.js', 'glyphmosaic.d.ts', 'glyphmosaic-simd.wasm', 'glyphmosaic.wasm'],
  engines: { node: '>=18' },
  sideEffects: false,
  keywords: ['ascii-art', 'text-art', 'image', 'filter', 'webassembly'],
};
lay(join(out, 'npm'), {
  ...shared,
  'glyphmosaic.d.ts': readFileSync(join(here, 'glyphmosaic.d.ts')),
  'README.md': fill(readFileSync(join(here, 'npm-readme.md'), 'utf8'), (s) => s),
  'package.json': `${JSON.stringify(pkg, null, 2)}\n`,
});
copyFileSync(licence, join(out, 'npm', 'LICENSE'));
