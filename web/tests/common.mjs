// What the web tests share: the native tool they compare with, PNG pixels,
// the built package and a static server that notes every request.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join, normalize } from 'node:path';
import { pathToFileURL } from 'node:url';
import pngjs from 'pngjs';

export const build = process.env.GM_WEB_BUILD ?? 'build/wasm';
export const samples = process.env.GM_SAMPLES_DIR ?? 'samples';
const tool = process.env.GM_NATIVE_TOOL ?? 'build/release/glyphmosaic';

/** A folder for the files a test makes, gone when the process ends. */
export const scratch = mkdtempSync(join(tmpdir(), 'gm-web-'));
process.on('exit', () => rmSync(scratch, { recursive: true, force: true }));

/** The native tool's standard output for these arguments. */
export function native(...args) {
  return execFileSync(tool, ['-q', ...args], { maxBuffer: 1 << 30 });
}

/** A PNG's pixels as stored: RGB, or RGBA when the file has alpha. */
export function readPng(bytes) {
  const png = pngjs.PNG.sync.read(bytes);
  const { width, height } = png;
  if (png.alpha) return { data: new Uint8Array(png.data), width, height };
  const data = new Uint8Array(width * height * 3);
  for (let i = 0, j = 0; j < data.length; i += 4, j += 3) data.set(png.data.subarray(i, i + 3), j);
  return { data, width, height };
}

export function writePng({ data, width, height }) {
  return pngjs.PNG.sync.write(Object.assign(new pngjs.PNG({ width, height }), { data: Buffer.from(data) }));
}

export const sample = (name) => readPng(readFileSync(join(samples, name)));

export async function loadPackage(options) {
  const { load } = await import(pathToFileURL(join(build, 'npm', 'glyphmosaic.js')));
  return load(options);
}

const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm',
  '.svg': 'image/svg+xml', '.webmanifest': 'application/manifest+json' };

/** Serves a folder on a free local port; `requests` lists the paths asked for. */
export async function serve(dir) {
  const requests = [];
  const server = createServer((request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname)).replace(/^(\.\.[/\\])+/, '');
    requests.push(path);
    try {
      const body = readFileSync(join(dir, path.endsWith('/') ? `${path}index.html` : path));
      response.writeHead(200, { 'content-type': types[extname(path) || '.html'] ?? 'application/octet-stream' });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { url: `http://127.0.0.1:${server.address().port}/`, requests, close: () => server.close() };
}

/** Debian's Chromium, headless, in a fresh profile, with a fake 30-frame camera; never a downloaded browser. */
export async function launchChromium() {
  const { chromium } = await import('playwright-core');
  return chromium.launch({
    executablePath: process.env.GM_CHROMIUM ?? '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--use-fake-device-for-media-stream=fps=30', '--use-fake-ui-for-media-stream'],
  });
}

// coffee.png as a camera stores a photo shot upright: rows as the sensor
// read them, and EXIF orientation 6 (turn a quarter clockwise) in an eXIf chunk.
export function turned() {
  const crcTable = Array.from({ length: 256 }, (_, n) => {
    for (let k = 0; k < 8; ++k) n = n & 1 ? 0xedb88320 ^ (n >>> 1) : n >>> 1;
    return n >>> 0;
  });
  const crc32 = (bytes) => ~bytes.reduce((c, b) => crcTable[(c ^ b) & 255] ^ (c >>> 8), ~0) >>> 0;
  const exif = Buffer.from('4d4d002a000000080001011200030000000100060000000000000000', 'hex');
  const chunk = Buffer.alloc(12 + exif.length);
  chunk.writeUInt32BE(exif.length, 0);
  Buffer.concat([Buffer.from('eXIf'), exif]).copy(chunk, 4);
  chunk.writeUInt32BE(crc32(chunk.subarray(4, 8 + exif.length)), 8 + exif.length);
  const png = readFileSync(join(samples, 'coffee.png'));
  const path = join(scratch, 'turned.png');
  writeFileSync(path, Buffer.concat([png.subarray(0, 33), chunk, png.subarray(33)])); // after IHDR
  return path;
}
