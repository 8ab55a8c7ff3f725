// The worker's side: loads the WebAssembly module once and runs one call at a time, passing
// progress back as it comes. Shared by the browser's worker (worker.js) and node's (worker.node.js).
import createPixeltoolsWasm from './pixeltools-wasm.js';

// What the module writes on standard error during a call: the words of quillet's command line
// parse when it refuses a value.
const standardError = [];

function instantiate(loadWasm, onProgress) {
  return new Promise((resolve, reject) => {
    createPixeltoolsWasm({
      instantiateWasm(imports, receive) {
        loadWasm()
          .then((bytes) => WebAssembly.instantiate(bytes, imports))
          .then((result) => receive(result.instance, result.module), reject);
        return {};
      },
      onProgress,
      print() {},
      printErr(text) {
        standardError.push(text);
      },
    }).then(resolve, reject);
  });
}

const outOfMemory = () => Object.assign(new Error('out of memory'), { code: 7 });

function withString(m, text, use) {
  const size = m.lengthBytesUTF8(text) + 1;
  const pointer = m._malloc(size);
  if (!pointer) throw outOfMemory();
  try {
    m.stringToUTF8(text, pointer, size);
    return use(pointer);
  } finally {
    m._free(pointer);
  }
}

// The files of one call; a library failure is thrown as an Error with its message and status.
function run(m, request) {
  const input = request.png;
  const pointer = m._malloc(Math.max(1, input.length));
  if (!pointer) throw outOfMemory();
  let result;
  try {
    m.HEAPU8.set(input, pointer);
    standardError.length = 0;
    if (request.kind === 'enlarge') {
      result = withString(m, '', (name) => m._pxtw_enlarge(pointer, input.length, name));
    } else if (request.options.set) {
      const tokens = request.options.set.map((token) => new TextEncoder().encode(`${token}\0`));
      const joined = new Uint8Array(tokens.reduce((sum, t) => sum + t.length, 0));
      tokens.reduce((at, t) => (joined.set(t, at), at + t.length), 0);
      const list = m._malloc(joined.length);
      if (!list) throw outOfMemory();
      try {
        m.HEAPU8.set(joined, list);
        result = m._pxtw_turn_set(pointer, input.length, list, tokens.length);
      } finally {
        m._free(list);
      }
    } else {
      const o = request.options;
      result = withString(m, o.out, (out) =>
        m._pxtw_turn(pointer, input.length, out, o.angle, o.endAngle, o.scale, o.endScale, o.frames, o.sheet));
    }
  } finally {
    m._free(pointer);
  }
  if (!result) throw outOfMemory();
  try {
    const status = m._pxtw_status(result);
    if (status !== 0) {
      const said = standardError.map((line) => line.replace(/^quillet: /, '')).join('\n');
      const message = m.UTF8ToString(m._pxtw_message(result)) || said || 'the options were refused';
      throw Object.assign(new Error(message), { code: status });
    }
    const files = [];
    const count = m._pxtw_file_count(result);
    for (let k = 0; k < count; ++k) {
      const start = m._pxtw_file_bytes(result, k) >>> 0;
      const size = m._pxtw_file_size(result, k) >>> 0;
      files.push({ name: m.UTF8ToString(m._pxtw_file_name(result, k)), bytes: m.HEAPU8.slice(start, start + size) });
    }
    return files;
  } finally {
    m._pxtw_result_free(result);
  }
}

export function serve({ loadWasm, post, listen }) {
  let module = null;
  let current = 0;
  const report = (percent) => post({ id: current, type: 'progress', percent });
  listen(async (request) => {
    current = request.id;
    try {
      module ??= instantiate(loadWasm, report);
      const files = run(await module, request);
      post({ id: request.id, type: 'done', files }, files.map((f) => f.bytes.buffer));
    } catch (error) {
      if (error?.code !== undefined) {
        post({ id: request.id, type: 'error', message: error.message, code: error.code });
      } else {
        // The module could not start, or stopped in a trap: the next call starts a new one.
        module = null;
        post({ id: request.id, type: 'error', message: `the WebAssembly module failed: ${error?.message ?? error}` });
      }
    }
  });
}
