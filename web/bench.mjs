// The web side's figures, for scripts/bench, beside the native ones of the
// same run:
//  - the WebAssembly kernel variants in Node on the 12-megapixel photo, MP/s
//    of CPU time, medians of five runs, against the native variants'
//    (fit_bench's JSON);
//  - the camera mode in headless Chromium with a fake 1280 x 720 camera at
//    30 frames a second: frames drawn a second, work per frame;
//  - what the page transfers, compressed.
//   node web/bench.mjs PHOTO.png KERNELS.json
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { gzipSync } from 'node:zlib';

import { build, launchChromium, loadPackage, readPng, serve } from './tests/common.mjs';

const [photoPath, kernelsJson] = process.argv.slice(2);
const verdict = (ok) => (ok ? 'met' : 'NOT MET');
const median = (values) => values.sort((a, b) => a - b)[values.length >> 1];

// Native medians by variant, as scripts/bench reads them.
const native = {};
for (const b of JSON.parse(readFileSync(kernelsJson, 'utf8')).benchmarks) {
  const match = /^kernel\/photo\/(\w+)/.exec(b.run_name);
  if (match && b.aggregate_name === 'median') native[match[1]] = b['MP/s'];
}

const photo = readPng(readFileSync(photoPath));
const megapixels = (photo.width * photo.height) / 1e6;

async function kernelRate(simd, kernel) {
  const gm = await loadPackage({ simd, kernel });
  const x = gm.exports;
  const rates = [];
  for (let run = 0; run < 6; ++run) {
    const input = x.gm_input(photo.width, photo.height, 3); // may grow the memory
    new Uint8Array(x.memory.buffer, input, photo.data.length).set(photo.data);
    const before = process.cpuUsage();
    if (x.gm_fit_input() !== 0) throw new Error('bench: the kernel refused the photo');
    const used = process.cpuUsage(before);
    if (run > 0) rates.push(megapixels / ((used.user + used.system) / 1e6)); // the first run warms the engine up
  }
  return median(rates);
}

console.log(`WebAssembly kernels in Node ${process.versions.node}, ${photo.width} x ${photo.height} photo, medians of 5:`);
const wasm = {
  wasm128: await kernelRate(true, 'wasm128'),
  generic: await kernelRate(true, 'generic'),
  'generic without SIMD': await kernelRate(false, 'generic'),
};
for (const [name, rate] of Object.entries(wasm)) {
  const sse2 = native.sse2 ? `, ${(rate / native.sse2).toFixed(2)} x native sse2` : '';
  console.log(`  ${name}: ${rate.toFixed(0)} MP/s${sse2}`);
}
console.log(`  native: ${Object.entries(native).map(([n, r]) => `${n} ${r.toFixed(0)}`).join(', ')} MP/s`);

// The camera, as someone sees it: the page from a local server.
const site = join(build, 'site');
const server = await serve(site);
const browser = await launchChromium();
let camera;
try {
  const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  await page.goto(server.url);
  await page.click('#camera');
  await page.waitForFunction(() => document.getElementById('art').dataset.frames >= 10, null, { timeout: 20_000 });
  const start = await page.evaluate(() => [performance.now(), +document.getElementById('art').dataset.frames]);
  await page.waitForTimeout(5000);
  camera = await page.evaluate(([t, f]) => {
    const { dataset } = document.getElementById('art');
    const fps = ((dataset.frames - f) * 1000) / (performance.now() - t);
    return { fps, ms: +dataset.frameMs, status: document.getElementById('status').textContent };
  }, start);
} finally {
  await browser.close();
  server.close();
}
console.log(`camera mode: ${camera.status}`);

// What a first visit transfers: the page, its scripts and style, and the one module it loads.
const loaded = ['index.html', 'style.css', 'app.js', 'worker.js', 'glyphmosaic.js', 'glyphmosaic-simd.wasm',
  'manifest.webmanifest', 'icon.svg', 'sw.js'];
const sizes = Object.fromEntries(loaded.map((f) => [f, gzipSync(readFileSync(join(site, f)), { level: 9 }).length]));
const total = Object.values(sizes).reduce((a, b) => a + b, 0);
const each = Object.entries(sizes).map(([f, n]) => `${f} ${(n / 1024).toFixed(1)}`);
console.log(`page transfer, gzip -9: ${(total / 1024).toFixed(1)} KiB (${each.join(', ')})`);

const ratio = native.sse2 ? wasm.wasm128 / native.sse2 : NaN;
console.log(`WebAssembly SIMD kernel: ${wasm.wasm128.toFixed(0)} MP/s, ${ratio.toFixed(2)} x native sse2; ` +
  `target >= 0.5: ${verdict(ratio >= 0.5)}`);
console.log(`camera mode at 1280 x 720: ${camera.fps.toFixed(1)} frames/s, ${camera.ms.toFixed(1)} ms of work per frame; ` +
  `target < 33 ms: ${verdict(camera.ms < 33)}`);
console.log(`page transfer: ${(total / 1024).toFixed(1)} KiB compressed; target < 200 KiB: ${verdict(total < 200 * 1024)}`);
