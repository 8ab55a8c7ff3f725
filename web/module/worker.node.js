// node's worker thread: reads pixeltools-wasm.wasm from beside this file.
import { readFile } from 'node:fs/promises';
import { parentPort } from 'node:worker_threads';
import { serve } from './worker-core.js';

serve({
  loadWasm: () => readFile(new URL('./pixeltools-wasm.wasm', import.meta.url)),
  post: (message, transfer) => parentPort.postMessage(message, transfer ?? []),
  listen: (handle) => parentPort.on('message', handle),
});
