// GlyphMosaic for JavaScript: the filter's WebAssembly module.

/** Pixels in rows packed top to bottom, 3 (RGB) or 4 (RGBA) 8-bit samples each; canvas ImageData fits. */
export interface Image {
  data: Uint8Array | Uint8ClampedArray;
  width: number;
  height: number;
}

/** An image the filter wrote; `channels` as in the input. */
export interface FilteredImage {
  data: Uint8Array;
  width: number;
  height: number;
  channels: 3 | 4;
}

/** A selection's bounding box in pixels of the upright image, scaled when `columns` is given; right and bottom exclusive. */
export interface Rect {
  top: number;
  left: number;
  bottom: number;
  right: number;
}

export interface Area {
  /** The EXIF orientation, 1 to 8: the image is turned upright first, as the tool turns a photo. Default 1, as stored. */
  orientation?: number;
  /** Scale first, by area averaging with the aspect ratio kept, so that the art is this many cells (8 pixels each) across. */
  columns?: number;
  /** Filter only this rectangle; pixels outside it stay as they were. Default: the whole image. */
  rect?: Rect;
}

export interface RunOptions extends Area {
  text?: boolean;
  ansi?: boolean;
  html?: boolean;
  /** Each cell's mean colour before the filter ran, 3 bytes per cell, row by row. */
  colours?: boolean;
  /** The HTML page's title. */
  title?: string;
  /** Called while the filter runs, with how much of it is done, 0 to 1. */
  onProgress?: (fraction: number) => void;
}

export interface RunResult {
  image: FilteredImage;
  text?: string;
  ansi?: string;
  html?: string;
  colours?: Uint8Array;
}

export interface GlyphMosaic {
  /** The filter's version, as `glyphmosaic --version` shows it. */
  readonly version: string;
  /** The kernel variant this instance runs. */
  readonly kernel: string;
  /** Every kernel variant its module has. */
  readonly kernels: readonly string[];
  /** The filtered image: what `glyphmosaic INPUT OUTPUT` writes. */
  filter(image: Image, options?: Area): FilteredImage;
  /** The art as text, one line per cell row; with `colour`, in 24-bit terminal colour: `glyphmosaic --text -`. */
  text(image: Image, options?: Area & { colour?: boolean; color?: boolean }): string;
  /** The art as a self-contained page: `glyphmosaic --html -`. */
  html(image: Image, options?: Area & { title?: string }): string;
  /** One run, the outputs asked for at once. */
  run(image: Image, options?: RunOptions): RunResult;
}

export interface LoadOptions {
  /** false takes the module without SIMD; default: SIMD where the engine has it. */
  simd?: boolean;
  /** Force a kernel variant by name (one of `kernels`), as GLYPHMOSAIC_KERNEL does for the tool. */
  kernel?: string;
  /** The module itself (bytes, compiled, or its URL) instead of the file beside this one. */
  module?: BufferSource | WebAssembly.Module | URL | string;
}

/** The filter, instantiated once for each choice of options. */
export function load(options?: LoadOptions): Promise<GlyphMosaic>;

/** Whether this engine runs WebAssembly SIMD. */
export function simdSupported(): boolean;
