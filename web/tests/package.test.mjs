// The npm package against the native tool: the same pixels in, the same
// bytes out, whatever module and kernel variant run.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, readFileSync, readdirSync, writeFileSync } from 'node:fs';
import { basename, join, resolve } from 'node:path';
import { test } from 'node:test';

import { build, loadPackage, native, readPng, sample, samples, scratch, turned, writePng } from './common.mjs';


// coffee.png with alpha falling across it, written as RGBA: alpha is kept,
// colour under it filtered as stored.
function translucent() {
  const { data, width, height } = sample('coffee.png');
  const rgba = new Uint8Array(width * height * 4);
  for (let p = 0; p < width * height; ++p) {
    rgba.set(data.subarray(3 * p, 3 * p + 3), 4 * p);
    rgba[4 * p + 3] = (p % width) * 255 / (width - 1);
  }
  const path = join(scratch, 'translucent.png');
  writeFileSync(path, writePng({ data: rgba, width, height }));
  return path;
}

const cases = [
  { file: join(samples, 'coffee.png') },
  { file: join(samples, 'coffee.png'), rect: { top: 13, left: 21, bottom: 301, right: 555 } },
  { file: join(samples, 'coffee.png'), columns: 75 }, // its own size
  { file: join(samples, 'astronaut.png'), columns: 57 },
  { file: join(samples, 'astronaut.png'), columns: 90, rect: { top: 40, left: 16, bottom: 300, right: 500 } },
  { file: translucent(), columns: 70 },
  { file: turned(), orientation: 6, columns: 44, rect: { top: 8, left: 16, bottom: 300, right: 200 } },
];

const args = ({ columns, rect: r }) => [
  ...(columns ? ['--columns', `${columns}`] : []),
  ...(r ? ['--rect', `${r.top},${r.left},${r.bottom},${r.right}`] : []),
];

for (const c of cases) {
  test(`${basename(c.file)} ${args(c).join(' ')}: the tool's bytes`, async () => {
    const gm = await loadPackage();
    const image = readPng(readFileSync(c.file));
    const options = { orientation: c.orientation, columns: c.columns, rect: c.rect };
    const expected = readPng(native('--format', 'png', ...args(c), c.file, '-'));
    const channels = expected.data.length / (expected.width * expected.height);
    assert.deepEqual(gm.filter(image, options), { ...expected, channels });
    assert.equal(gm.text(image, options), native('--text', '-', ...args(c), c.file).toString());
    assert.equal(gm.text(image, { ...options, colour: true }), native('--colour', '--text', '-', ...args(c), c.file).toString());
    assert.equal(gm.html(image, { ...options, title: basename(c.file) }), native('--html', '-', ...args(c), c.file).toString());
  });
}

test('every kernel variant of both modules draws the same bytes', async () => {
  const image = sample('astronaut.png');
  const expected = (await loadPackage()).text(image);
  for (const simd of [true, false]) {
    const { kernels } = await loadPackage({ simd });
    assert.equal(kernels.includes('wasm128'), simd);
    for (const kernel of kernels) {
      const gm = await loadPackage({ simd, kernel });
      assert.equal(gm.kernel, kernel);
      assert.equal(gm.text(image), expected, `${kernel}${simd ? '' : ' without SIMD'}`);
    }
  }
});

test('failures are one line, as the tool words them', async () => {
  const gm = await loadPackage();
  const image = sample('coffee.png');
  assert.throws(() => gm.text(image, { rect: { top: 0, left: 0, bottom: 401, right: 8 } }),
    { message: 'glyphmosaic: rect 0,0,401,8 reaches outside the 600x400 image' });
  assert.throws(() => gm.text({ ...image, width: 599 }), TypeError);
});

test('the packed package installs into an empty folder and draws the tool\'s text', async () => {
  const npm = (cwd, ...args) => execFileSync('npm', [...args, '--silent', '--no-audit', '--no-fund'], { cwd }).toString();
  npm(join(build, 'npm'), 'pack', '--pack-destination', scratch);
  const app = join(scratch, 'app');
  mkdirSync(app);
  writeFileSync(join(app, 'package.json'), '{"type": "module"}');
  npm(app, 'install', join(scratch, readdirSync(scratch).find((f) => f.endsWith('.tgz'))));
  writeFileSync(join(app, 'art.js'), `import { load } from 'glyphmosaic';
import { readPng } from ${JSON.stringify(new URL('common.mjs', import.meta.url).href)};
import { readFileSync } from 'node:fs';
process.stdout.write((await load()).text(readPng(readFileSync(process.argv[2])), { columns: 66 }));`);
  const file = resolve(samples, 'astronaut.png');
  const art = execFileSync('node', ['art.js', file], { cwd: app }).toString();
  assert.equal(art, native('--text', '-', '--columns', '66', file).toString());
});
