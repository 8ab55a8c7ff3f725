// pixeltools in node: the work runs in a worker thread, which keeps no process alive while idle.
import { Worker } from 'node:worker_threads';
import { makeClient } from './client.js';

function spawn() {
  const worker = new Worker(new URL('./worker.node.js', import.meta.url));
  let onMessage = null;
  let onError = null;
  worker.on('message', (message) => onMessage?.(message));
  worker.on('error', (error) => onError?.(error));
  worker.on('exit', (code) => onError?.(new Error(`the worker stopped (exit code ${code})`)));
  return {
    post: (message, transfer) => worker.postMessage(message, transfer),
    listen(message, error) {
      onMessage = message;
      onError = error;
    },
    hold: (busy) => (busy ? worker.ref() : worker.unref()),
    terminate: () => worker.terminate(),
  };
}

const client = makeClient(spawn);

/** Resolves to the PNG bytes that mostel writes for these PNG bytes (the 3x enlargement). */
export const enlarge = (pngBytes, options) => client.enlarge(pngBytes, options);

/** Resolves to the files [{ name, bytes }] that quillet -format png writes for options.out. */
export const turn = (pngBytes, options) => client.turn(pngBytes, options);
