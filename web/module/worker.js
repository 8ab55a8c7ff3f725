// The browser's worker: loads pixeltools-wasm.wasm from beside this file.
import { serve } from './worker-core.js';

serve({
  loadWasm: async () => {
    const response = await fetch(new URL('./pixeltools-wasm.wasm', import.meta.url));
    if (!response.ok) throw new Error(`could not load pixeltools-wasm.wasm (HTTP ${response.status})`);
    return response.arrayBuffer();
  },
  post: (message, transfer) => self.postMessage(message, transfer ?? []),
  listen: (handle) => self.addEventListener('message', (event) => handle(event.data)),
});
