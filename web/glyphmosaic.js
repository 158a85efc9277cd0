// GlyphMosaic for JavaScript: the filter's WebAssembly module with a loader
// of its own, for browsers, workers and Node 18 or later. Raw pixels in,
// the tool's results out.

// A module that returns a SIMD value: valid only where the engine has SIMD.
const SIMD_PROBE = new Uint8Array([
  0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 8, 1, 6, 0, 65, 0, 253, 15, 11,
]);

const MODULES = { simd: 'glyphmosaic-simd.wasm', baseline: 'glyphmosaic.wasm' };
// The outputs a run can make, as the module numbers them.
const OUTPUTS = ['text', 'ansi', 'html', 'colours'];
const loaded = new Map();

/** Whether this engine runs WebAssembly SIMD, and so the faster module. */
export function simdSupported() {
  return WebAssembly.validate(SIMD_PROBE);
}

/**
 * The filter, instantiated once per choice of module and kernel.
 * options.simd: false takes the module without SIMD (default: SIMD when the
 * engine has it); options.kernel forces a kernel variant by name, as
 * GLYPHMOSAIC_KERNEL does for the tool; options.module gives the module's
 * bytes, a compiled WebAssembly.Module or its URL, instead of the file beside
 * this one.
 */
export function load(options = {}) {
  const simd = options.simd ?? simdSupported();
  const key = `${simd}/${options.kernel ?? ''}`;
  if (options.module) return instantiate(options.module, options.kernel);
  if (!loaded.has(key)) {
    const url = new URL(simd ? MODULES.simd : MODULES.baseline, import.meta.url);
    const promise = instantiate(url, options.kernel);
    promise.catch(() => loaded.delete(key));
    loaded.set(key, promise);
  }
  return loaded.get(key);
}

async function instantiate(source, kernel) {
  const imports = new Imports(kernel ? [`GLYPHMOSAIC_KERNEL=${kernel}`] : []);
  let instance;
  if (source instanceof WebAssembly.Module) {
    instance = await WebAssembly.instantiate(source, imports.table());
  } else if (source instanceof URL && source.protocol === 'file:') {
    const { readFile } = await import('node:fs/promises');
    ({ instance } = await WebAssembly.instantiate(await readFile(source), imports.table()));
  } else if (source instanceof URL || typeof source === 'string') {
    const response = await fetch(source);
    if (!response.ok) throw new Error(`glyphmosaic: ${source}: ${response.status} ${response.statusText}`);
    ({ instance } = await WebAssembly.instantiate(await response.arrayBuffer(), imports.table()));
  } else {
    ({ instance } = await WebAssembly.instantiate(source, imports.table()));
  }
  imports.memory = instance.exports.memory;
  instance.exports._initialize();
  return new GlyphMosaic(instance.exports, imports);
}

// What the module asks of its surroundings: its environment, a sink for the
// little it prints, the filter's progress.
class Imports {
  constructor(environment) {
    this.environment = environment.map((line) => new TextEncoder().encode(`${line}\0`));
    this.memory = null;
    this.onProgress = null;
  }

  view() {
    return new DataView(this.memory.buffer);
  }

  table() {
    const wasi = {
      environ_sizes_get: (count, size) => {
        this.view().setUint32(count, this.environment.length, true);
        this.view().setUint32(size, this.environment.reduce((n, e) => n + e.length, 0), true);
        return 0;
      },
      environ_get: (pointers, at) => {
        for (const [i, e] of this.environment.entries()) {
          this.view().setUint32(pointers + 4 * i, at, true);
          new Uint8Array(this.memory.buffer, at, e.length).set(e);
          at += e.length;
        }
        return 0;
      },
      fd_write: (fd, iovs, count, written) => {
        let text = '';
        let total = 0;
        for (let i = 0; i < count; ++i) {
          const at = this.view().getUint32(iovs + 8 * i, true);
          const length = this.view().getUint32(iovs + 8 * i + 4, true);
          text += new TextDecoder().decode(new Uint8Array(this.memory.buffer, at, length));
          total += length;
        }
        if (text.trim()) console.error(text.trimEnd());
        this.view().setUint32(written, total, true);
        return 0;
      },
      fd_close: () => 0,
      fd_seek: () => 70, // not seekable
      proc_exit: (code) => {
        throw new Error(`glyphmosaic: the module stopped with exit code ${code}`);
      },
    };
    const env = {
      gm_progress: (fraction) => this.onProgress?.(fraction),
      emscripten_notify_memory_growth: () => {},
    };
    return { env, wasi_snapshot_preview1: wasi };
  }
}

class GlyphMosaic {
  constructor(exports, imports) {
    this.exports = exports;
    this.imports = imports;
    /** The filter's version, as `glyphmosaic --version` shows it. */
    this.version = this.string(exports.gm_version());
    /** The kernel variant this instance runs, and all its module has. */
    this.kernel = this.string(exports.gm_kernel());
    this.kernels = this.string(exports.gm_kernels()).split(',');
  }

  string(pointer, length) {
    const bytes = new Uint8Array(this.imports.memory.buffer, pointer);
    return new TextDecoder().decode(bytes.subarray(0, length ?? bytes.indexOf(0)));
  }

  fail() {
    throw new Error(`glyphmosaic: ${this.string(this.exports.gm_error())}`);
  }

  /**
   * One run, every output asked for at once: { image, text, ansi, html,
   * colours }. options: orientation (the EXIF orientation, 1 to 8: the image
   * is turned upright first, as the tool turns a photo), columns (scale
   * first, so that the art is this many cells across), rect ({ top, left, bottom, right } in the scaled image's
   * pixels), text / ansi / html / colours (true for each output wanted),
   * title (the page's), onProgress (called with 0 to 1 while the filter runs).
   */
  run(image, options = {}) {
    const { data, width, height } = image;
    const channels = width > 0 && height > 0 ? data.length / (width * height) : 0;
    if (!(data instanceof Uint8Array || data instanceof Uint8ClampedArray) || (channels !== 3 && channels !== 4)) {
      throw new TypeError(
        'glyphmosaic: image.data must be a Uint8Array or Uint8ClampedArray of width x height x 3 or 4 samples ' +
          `(${width}x${height}, ${data?.length} given)`,
      );
    }
    const { orientation = 1, columns = 0, rect = { top: 0, left: 0, bottom: 0, right: 0 } } = options;
    const numbers = [orientation, columns, rect.top, rect.left, rect.bottom, rect.right];
    if (!numbers.every(Number.isInteger)) {
      throw new TypeError('glyphmosaic: orientation, columns and rect take whole numbers');
    }
    const x = this.exports;
    const input = x.gm_input(width, height, channels);
    if (!input) this.fail();
    new Uint8Array(x.memory.buffer, input, data.length).set(data);
    const title = new TextEncoder().encode(`${options.title ?? ''}\0`);
    const titleAt = x.malloc(title.length);
    new Uint8Array(x.memory.buffer, titleAt, title.length).set(title);
    const wanted = OUTPUTS.reduce((bits, name, i) => bits | (options[name] ? 1 << i : 0), 0);
    this.imports.onProgress = options.onProgress ?? null;
    try {
      if (x.gm_run(...numbers, wanted, titleAt) !== 0) this.fail();
    } finally {
      this.imports.onProgress = null;
      x.free(titleAt);
    }
    const size = x.gm_output_width() * x.gm_output_height() * x.gm_output_channels();
    const result = {
      image: {
        data: new Uint8Array(x.memory.buffer, x.gm_output_pixels(), size).slice(),
        width: x.gm_output_width(),
        height: x.gm_output_height(),
        channels: x.gm_output_channels(),
      },
    };
    OUTPUTS.forEach((name, i) => {
      if (!options[name]) return;
      const bytes = new Uint8Array(x.memory.buffer, x.gm_output(i), x.gm_output_size(i));
      result[name] = name === 'colours' ? bytes.slice() : new TextDecoder().decode(bytes);
    });
    return result;
  }

  /** The filtered image, the input's channels kept: { data, width, height, channels }. */
  filter(image, { orientation, columns, rect } = {}) {
    return this.run(image, { orientation, columns, rect }).image;
  }

  /** The art as text; with colour, in 24-bit terminal colour, as `glyphmosaic --text -` writes it. */
  text(image, { orientation, columns, rect, colour, color } = {}) {
    const ansi = Boolean(colour ?? color);
    const result = this.run(image, { orientation, columns, rect, text: !ansi, ansi });
    return ansi ? result.ansi : result.text;
  }

  /** The art as a self-contained page, as `glyphmosaic --html` writes it. */
  html(image, { orientation, columns, rect, title } = {}) {
    return this.run(image, { orientation, columns, rect, title, html: true }).html;
  }
}
