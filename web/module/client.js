// The calls of the package, over a worker that the entry point makes (index.js in browsers and
// bundlers, index.node.js in node): each call runs in a worker of its own, so that the caller's
// thread never waits, and cancelling ends that worker at once. One idle worker is kept for the
// next call, with its WebAssembly module already loaded.

function abortError(signal) {
  if (signal.reason !== undefined) return signal.reason;
  return new DOMException('The operation was aborted.', 'AbortError');
}

// A private copy of the caller's bytes, which is handed over to the worker.
function copyBytes(data, what) {
  if (data instanceof ArrayBuffer) return new Uint8Array(data.slice(0));
  if (ArrayBuffer.isView(data)) return new Uint8Array(data.buffer, data.byteOffset, data.byteLength).slice();
  throw new TypeError(`${what} must be a Uint8Array, an ArrayBuffer or another view of bytes`);
}

function number(options, key, fallback) {
  const value = options[key];
  if (value === undefined) return fallback;
  if (typeof value !== 'number' || !Number.isFinite(value)) throw new TypeError(`options.${key} must be a finite number`);
  return value;
}

function wholeNumber(options, key, fallback, least, most) {
  const value = number(options, key, fallback);
  if (!Number.isInteger(value) || value < least || value > most)
    throw new RangeError(`options.${key} must be a whole number from ${least} to ${most}`);
  return value;
}

// The turn's values as the command line takes them: a start value given alone is also the end
// value, and an end value given alone also the start value.
export function turnValues(options = {}) {
  if (options === null || typeof options !== 'object') throw new TypeError('options must be an object');
  const out = options.out === undefined ? 'sprite' : options.out;
  if (typeof out !== 'string' || out === '' || out.includes('\0'))
    throw new TypeError('options.out must be a non-empty name');
  const angle = number(options, 'angle', undefined);
  const endAngle = number(options, 'endAngle', undefined);
  const scale = number(options, 'scale', undefined);
  const endScale = number(options, 'endScale', undefined);
  return {
    out,
    angle: angle ?? endAngle ?? 0,
    endAngle: endAngle ?? angle ?? 0,
    scale: scale ?? endScale ?? 1,
    endScale: endScale ?? scale ?? 1,
    frames: wholeNumber(options, 'frames', 1, 1, 2147483647),
    sheet: wholeNumber(options, 'sheet', 0, 0, 100000),
  };
}

const setKeys = ['directions', 'cells', 'pivot', 'canvas', 'data', 'fps'];

// A pair as "AsB": a string as it stands, [a, b] or {a, b} of numbers.
function pair(options, key, names, separator) {
  const value = options[key];
  if (typeof value === 'string') return value;
  const [a, b] = Array.isArray(value) ? value : value && typeof value === 'object' ? names.map((n) => value[n]) : [];
  if (typeof a !== 'number' || typeof b !== 'number' || !Number.isFinite(a) || !Number.isFinite(b))
    throw new TypeError(`options.${key} must be "${names.join(separator)}", [${names}] or {${names}}`);
  return `${a}${separator}${b}`;
}

function text(options, key) {
  const value = options[key];
  if (typeof value !== 'string') throw new TypeError(`options.${key} must be a string`);
  return value;
}

// The command line of quillet -format png for a sprite set or a data file, or null when the
// options ask for neither. The values are checked by the program's own parse.
export function setArguments(options = {}) {
  if (!setKeys.some((key) => options[key] !== undefined)) return null;
  const out = turnValues(options).out;
  const line = ['-format', 'png', '-out', out];
  const given = (key, option, value) => {
    if (options[key] !== undefined) line.push(option, value());
  };
  for (const [key, option] of [['angle', '-angle'], ['endAngle', '-endangle'], ['scale', '-scale'], ['endScale', '-endscale']])
    given(key, option, () => String(number(options, key, 0)));
  given('frames', '-frames', () => String(wholeNumber(options, 'frames', 1, 1, 2147483647)));
  if (options.sheet !== undefined && wholeNumber(options, 'sheet', 0, 0, 100000) > 0) line.push('-sheet', String(options.sheet));
  given('directions', '-directions', () => String(number(options, 'directions', 0)));
  given('cells', '-cells', () => pair(options, 'cells', ['w', 'h'], 'x'));
  given('pivot', '-pivot', () => pair(options, 'pivot', ['x', 'y'], ','));
  given('canvas', '-canvas', () => text(options, 'canvas'));
  given('data', '-data', () => text(options, 'data'));
  given('fps', '-fps', () => String(number(options, 'fps', 10)));
  if (line.some((token) => token.includes('\0'))) throw new TypeError('the options must not hold a NUL character');
  return line;
}

export function makeClient(spawn) {
  let idle = null;
  let nextId = 1;

  function call(request, { onProgress, signal } = {}) {
    return new Promise((resolve, reject) => {
      if (signal?.aborted) {
        reject(abortError(signal));
        return;
      }
      const worker = idle ?? spawn();
      idle = null;
      worker.hold(true);
      const id = nextId++;
      let finished = false;
      const finish = (settle, keep) => {
        if (finished) return;
        finished = true;
        worker.listen(null);
        signal?.removeEventListener('abort', onAbort);
        if (keep && !idle) {
          worker.hold(false);
          idle = worker;
        } else {
          worker.terminate();
        }
        settle();
      };
      const onAbort = () => finish(() => reject(abortError(signal)), false);
      signal?.addEventListener('abort', onAbort, { once: true });
      worker.listen(
        (message) => {
          if (message.id !== id) return;
          if (message.type === 'progress') {
            if (onProgress) onProgress(message.percent);
          } else if (message.type === 'done') {
            finish(() => resolve(message.files), true);
          } else {
            const error = new Error(message.message);
            if (message.code !== undefined) error.code = message.code;
            finish(() => reject(error), message.code !== undefined);
          }
        },
        (error) => finish(() => reject(error instanceof Error ? error : new Error(String(error?.message ?? error))), false),
      );
      worker.post({ id, ...request }, [request.png.buffer]);
    });
  }

  return {
    // mostel: resolves to the bytes of the PNG file that mostel writes for this PNG.
    async enlarge(pngBytes, { onProgress, signal } = {}) {
      const png = copyBytes(pngBytes, 'pngBytes');
      const files = await call({ kind: 'enlarge', png }, { onProgress, signal });
      return files[0].bytes;
    },
    // quillet -format png: resolves to the files it writes for options.out, in order.
    async turn(pngBytes, options = {}) {
      const png = copyBytes(pngBytes, 'pngBytes');
      const set = setArguments(options);
      const values = set ? { set } : turnValues(options);
      return call({ kind: 'turn', png, options: values }, { onProgress: options.onProgress, signal: options.signal });
    },
  };
}
