// pixeltools in browsers and bundlers: the work runs in a module Web Worker.
import { makeClient } from './client.js';

function spawn() {
  const worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
  let onMessage = null;
  let onError = null;
  worker.addEventListener('message', (event) => onMessage?.(event.data));
  worker.addEventListener('error', (event) => {
    event.preventDefault();
    onError?.(new Error(event.message || 'the worker could not be started'));
  });
  worker.addEventListener('messageerror', () => onError?.(new Error('a message from the worker could not be read')));
  return {
    post: (message, transfer) => worker.postMessage(message, transfer),
    listen(message, error) {
      onMessage = message;
      onError = error;
    },
    hold() {},
    terminate: () => worker.terminate(),
  };
}

const client = makeClient(spawn);

/** Resolves to the PNG bytes that mostel writes for these PNG bytes (the 3x enlargement). */
export const enlarge = (pngBytes, options) => client.enlarge(pngBytes, options);

/** Resolves to the files [{ name, bytes }] that quillet -format png writes for options.out. */
export const turn = (pngBytes, options) => client.turn(pngBytes, options);
