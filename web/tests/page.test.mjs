// The page in headless Chromium, served from a local folder as anyone would:
// it draws what the tool draws, offline too, asks nothing of any other
// origin, and its camera mode draws frames.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import { build, launchChromium, native, readPng, samples, serve, turned } from './common.mjs';

const coffee = join(samples, 'coffee.png');
let server, browser, context, page;
const requested = [];
const refused = [];

before(async () => {
  server = await serve(join(build, 'site'));
  browser = await launchChromium();
  context = await browser.newContext({ viewport: { width: 1280, height: 900 }, acceptDownloads: true });
  context.on('request', (request) => requested.push(request.url()));
  page = await context.newPage();
  // What the page's policy stops never becomes a request: the console says so.
  page.on('console', (message) => /Content.Security.Policy/i.test(message.text()) && refused.push(message.text()));
  await page.goto(server.url);
  await page.evaluate(() => navigator.serviceWorker.ready);
});

after(async () => {
  await browser?.close();
  server?.close();
});

// Does what changes the picture and waits until the page has drawn it anew.
async function drawn(action) {
  const before = await page.$eval('#art', (art) => Number(art.dataset.drawn) || 0);
  await action();
  await page.waitForFunction((n) => {
    const art = document.getElementById('art');
    return (Number(art.dataset.drawn) > n && art.ariaBusy === 'false') || document.getElementById('message').textContent;
  }, before);
  assert.equal(await page.textContent('#message'), '');
  return page.textContent('#art');
}

const columnsOf = (text) => text.indexOf('\n');
const download = async (button) => {
  const [file] = await Promise.all([page.waitForEvent('download'), page.click(button)]);
  return readFileSync(await file.path());
};

test('a picture opened through the file input is drawn as the tool draws it', async () => {
  const fitted = await drawn(() => page.setInputFiles('#file', coffee));
  const columns = columnsOf(fitted);
  assert.ok(columns > 100, `${columns} columns fill a 1280-pixel window`);
  assert.equal(fitted, native('--text', '-', '--columns', `${columns}`, coffee).toString());

  const text = await drawn(() => page.fill('#columns', '64').then(() => page.press('#columns', 'Enter')));
  assert.equal(text, native('--text', '-', '--columns', '64', coffee).toString());
  assert.equal((await download('#txt')).toString(), text);
  assert.equal((await download('#html')).toString(), native('--html', '-', '--columns', '64', coffee).toString());
  const png = readPng(await download('#png'));
  const tool = readPng(native('--format', 'png', '--columns', '64', coffee, '-'));
  const rgb = Buffer.from(png.data.filter((_, i) => i % 4 !== 3));
  assert.deepEqual({ ...png, data: rgb }, { ...tool, data: Buffer.from(tool.data) });
  assert.ok(png.data.every((v, i) => i % 4 !== 3 || v === 255), 'opaque');
});

test('the area to filter, drawn with the pointer or typed, as the tool takes --rect', async () => {
  // Wider than the window, so that the picture is shown smaller than it is.
  const columns = async (n) => drawn(() => page.fill('#columns', n).then(() => page.press('#columns', 'Enter')));
  await columns('200');
  await page.locator('#image').scrollIntoViewIfNeeded();
  const box = await page.locator('#image').boundingBox();
  assert.ok(box.width < 1600);
  const at = async ([x, y]) => {
    const scale = box.width / (await page.$eval('#image', (c) => c.width));
    return [box.x + (x + 0.2) * scale, box.y + (y + 0.2) * scale];
  };
  await page.mouse.move(...(await at([40, 24])));
  await page.mouse.down();
  await page.mouse.move(...(await at([333, 200])), { steps: 4 });
  const dragged = await drawn(() => page.mouse.up());
  const fields = await Promise.all(['top', 'left', 'bottom', 'right'].map((id) => page.inputValue(`#${id}`)));
  assert.deepEqual(fields, ['24', '40', '200', '333']);
  assert.equal(dragged, native('--text', '-', '--columns', '200', '--rect', '24,40,200,333', coffee).toString());
  await page.fill('#right', '300');
  const typed = await drawn(() => page.press('#right', 'Enter'));
  assert.equal(typed, native('--text', '-', '--columns', '200', '--rect', '24,40,200,300', coffee).toString());
  await drawn(() => page.click('#whole'));
  await columns('64');
});

test('in colour, each run of one colour is one span, as in the tool\'s page', async () => {
  await page.check('#colour');
  const spans = await page.$$eval('#art span', (all) => all.map((s) => [getComputedStyle(s).color, s.textContent]));
  await page.uncheck('#colour');
  const hex = (rgb) => `#${rgb.match(/\d+/g).map((v) => Number(v).toString(16).padStart(2, '0')).join('')}`;
  const entities = { '&amp;': '&', '&lt;': '<', '&gt;': '>', '&quot;': '"' };
  const page64 = native('--html', '-', '--columns', '64', coffee).toString();
  const tool = [...page64.matchAll(/<span style="color:(#\w+)">(.*?)<\/span>/gs)]
    .map(([, colour, text]) => [colour, text.replace(/&\w+;/g, (e) => entities[e])]);
  assert.deepEqual(spans.map(([colour, text]) => [hex(colour), text]), tool);
});

test('dropped and pasted pictures are drawn; what is no picture gets one clear line', async () => {
  const bytes = [...readFileSync(coffee)];
  for (const [target, make] of [['drop', 'DragEvent'], ['paste', 'ClipboardEvent']]) {
    const text = await drawn(() => page.evaluate(([b, target, make]) => {
      const data = new DataTransfer();
      data.items.add(new File([new Uint8Array(b)], 'coffee.png', { type: 'image/png' }));
      const init = { bubbles: true, cancelable: true, [make === 'DragEvent' ? 'dataTransfer' : 'clipboardData']: data };
      (target === 'drop' ? document.getElementById('drop') : document).dispatchEvent(new window[make](target, init));
    }, [bytes, target, make]));
    assert.equal(text, native('--text', '-', '--columns', '64', coffee).toString(), target);
  }
  await page.setInputFiles('#file', { name: 'notes.txt', mimeType: 'text/plain', buffer: Buffer.from('not a picture') });
  await page.waitForFunction(() => document.getElementById('message').textContent);
  assert.equal(await page.textContent('#message'), 'notes.txt: this browser cannot decode it as a picture');
});

test('offline once loaded, a photo turned upright by its EXIF orientation as the tool turns it', async () => {
  const photo = turned();
  await context.setOffline(true);
  try {
    await page.reload();
    await page.fill('#columns', '77');
    const text = await drawn(() => page.setInputFiles('#file', photo));
    assert.equal(text, native('--text', '-', '--columns', '77', photo).toString());
  } finally {
    await context.setOffline(false);
  }
});

test('the camera mode draws frames from the camera', async () => {
  await page.click('#camera');
  await page.waitForFunction(() => document.getElementById('art').dataset.frames >= 3, null, { timeout: 20_000 });
  await page.click('#camera');
  const lines = (await page.textContent('#art')).split('\n').slice(0, -1);
  assert.equal(lines.length > 0 && new Set(lines.map((l) => l.length)).size, 1, 'whole lines of one width');
});

test('no request leaves the page\'s origin', () => {
  assert.ok(requested.length > 5);
  assert.deepEqual(requested.filter((url) => !url.startsWith(server.url)), []);
  assert.ok(server.requests.includes('/glyphmosaic-simd.wasm'));
  assert.deepEqual(refused, []);
});
