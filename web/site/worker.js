// The page's work, away from its main thread: decoding, the filter, PNG
// encoding. Requests come as { id, type, ... }; each gets one reply with the
// same id, { id, result } or { id, error }, and runs may send
// { id, progress } before it.
import { load } from './glyphmosaic.js';

const filter = load();
let source = null; // the opened picture at full size: { data, width, height, name }
let last = null; // the last filtered image, for PNG
let frameCanvas = null;

// Colour as stored, at full size: the page must hand the filter the very
// pixels the tool decodes, so nothing here converts or scales them.
const DECODE = { colorSpaceConversion: 'none', premultiplyAlpha: 'none', imageOrientation: 'from-image' };

function pixelsOf(bitmap, canvas = new OffscreenCanvas(bitmap.width, bitmap.height)) {
  if (canvas.width !== bitmap.width || canvas.height !== bitmap.height) {
    canvas.width = bitmap.width;
    canvas.height = bitmap.height;
  }
  const context = canvas.getContext('2d', { willReadFrequently: true, colorSpace: 'srgb' });
  context.drawImage(bitmap, 0, 0);
  const { data } = context.getImageData(0, 0, bitmap.width, bitmap.height);
  return withoutOpaqueAlpha({ data, width: bitmap.width, height: bitmap.height });
}

// A canvas always has alpha. Where every pixel is opaque the filter gets
// RGB, as the tool does from such a file, and its output has no alpha to keep.
function withoutOpaqueAlpha(image) {
  const { data } = image;
  for (let i = 3; i < data.length; i += 4) if (data[i] !== 255) return image;
  const rgb = new Uint8Array((data.length / 4) * 3);
  for (let i = 0, j = 0; i < data.length; i += 4, j += 3) {
    rgb[j] = data[i];
    rgb[j + 1] = data[i + 1];
    rgb[j + 2] = data[i + 2];
  }
  return { ...image, data: rgb };
}

function rgba(image) {
  if (image.channels === 4) return new Uint8ClampedArray(image.data);
  const out = new Uint8ClampedArray(image.width * image.height * 4);
  for (let i = 0, j = 0; j < out.length; i += 3, j += 4) {
    out[j] = image.data[i];
    out[j + 1] = image.data[i + 1];
    out[j + 2] = image.data[i + 2];
    out[j + 3] = 255;
  }
  return out;
}

const handlers = {
  async open({ file }) {
    let bitmap;
    try {
      bitmap = await createImageBitmap(file, DECODE);
    } catch {
      throw new Error(`${file.name || 'the pasted picture'}: this browser cannot decode it as a picture`);
    }
    source = { ...pixelsOf(bitmap), name: file.name || 'pasted picture' };
    bitmap.close();
    last = null;
    return { width: source.width, height: source.height, name: source.name };
  },

  async draw({ columns, rect }, id) {
    if (!source) throw new Error('open a picture first');
    const gm = await filter;
    const title = source.name;
    const result = gm.run(source, {
      columns,
      rect,
      text: true,
      ansi: true,
      html: true,
      colours: true,
      title,
      onProgress: (progress) => postMessage({ id, progress }),
    });
    last = result.image;
    const pixels = rgba(result.image);
    const picture = new ImageData(pixels, result.image.width, result.image.height);
    return { ...result, image: undefined, picture, kernel: gm.kernel, transfer: [pixels.buffer] };
  },

  // One camera frame: only the text, and how long the work took.
  async frame({ bitmap, columns }) {
    const gm = await filter;
    const start = performance.now();
    frameCanvas ??= new OffscreenCanvas(bitmap.width, bitmap.height);
    const image = pixelsOf(bitmap, frameCanvas);
    bitmap.close();
    const { text, colours } = gm.run(image, { columns, text: true, colours: true });
    return { text, colours, width: image.width, height: image.height, ms: performance.now() - start };
  },

  async png() {
    if (!last) throw new Error('nothing drawn yet');
    const canvas = new OffscreenCanvas(last.width, last.height);
    canvas.getContext('2d').putImageData(new ImageData(rgba(last), last.width, last.height), 0, 0);
    return { blob: await canvas.convertToBlob({ type: 'image/png' }) };
  },
};

onmessage = async ({ data }) => {
  const { id, type } = data;
  try {
    const { transfer = [], ...result } = await handlers[type](data, id);
    postMessage({ id, result }, transfer);
  } catch (error) {
    postMessage({ id, error: String(error.message ?? error).replace(/^glyphmosaic: /, '') });
  }
};
