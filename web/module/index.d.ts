export interface CallOptions {
  /** Called with 0..100 as the work goes on. */
  onProgress?: (percent: number) => void;
  /** Aborting it ends the work at once; the promise rejects with the signal's reason. */
  signal?: AbortSignal;
}

export interface TurnOptions extends CallOptions {
  /** The output name the file names are made from, as quillet's -out ("sprite"). */
  out?: string;
  /** Degrees of the first frame, counter-clockwise (the end angle, else 0). */
  angle?: number;
  /** Degrees of the last frame (the angle). */
  endAngle?: number;
  /** Factor of the first frame (the end scale, else 1). */
  scale?: number;
  /** Factor of the last frame (the scale). */
  endScale?: number;
  /** Frames of the series (1). */
  frames?: number;
  /** Frames to a row of one sprite sheet; 0 writes the frames as files of their own (0). */
  sheet?: number;
  /** A sprite set: this many turns over a full circle from the angle, as -directions (1 to 360). */
  directions?: number;
  /** The sprite is a strip or grid of cells of this size, as -cells: "WxH" or {w, h}. */
  cells?: string | { w: number; h: number };
  /** The point the frames turn about, in pixels from the picture's (cell's) top-left, as -pivot. */
  pivot?: [number, number] | { x: number; y: number } | string;
  /** "keep": the frames keep the picture's (cell's) canvas, grown as needed, as -canvas keep. */
  canvas?: 'keep';
  /** A data file after the frames or sheet for a game engine to load, as -data. */
  data?: 'json' | 'godot';
  /** Frames per second the data file gives the animations (10), as -fps. */
  fps?: number;
}

export interface OutputFile {
  name: string;
  bytes: Uint8Array;
}

/** The PNG file mostel writes for a PNG picture: its 3x enlargement. Rejects with the library's message. */
export function enlarge(pngBytes: ArrayBuffer | ArrayBufferView, options?: CallOptions): Promise<Uint8Array>;

/** The files quillet -format png writes for options.out, in order. Rejects with the library's message. */
export function turn(pngBytes: ArrayBuffer | ArrayBufferView, options?: TurnOptions): Promise<OutputFile[]>;
