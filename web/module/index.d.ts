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
}

export interface OutputFile {
  name: string;
  bytes: Uint8Array;
}

/** The PNG file mostel writes for a PNG picture: its 3x enlargement. Rejects with the library's message. */
export function enlarge(pngBytes: ArrayBuffer | ArrayBufferView, options?: CallOptions): Promise<Uint8Array>;

/** The files quillet -format png writes for options.out, in order. Rejects with the library's message. */
export function turn(pngBytes: ArrayBuffer | ArrayBufferView, options?: TurnOptions): Promise<OutputFile[]>;
