// The npm package in node against the native programs: the same files, names and bytes;
// cancelling; bad input rejected with the library's message.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const { enlarge, turn } = await import(pathToFileURL(path.resolve(process.env.PIXELTOOLS_PACKAGE, 'index.node.js')).href);
const samples = path.resolve(process.env.PIXELTOOLS_SAMPLES);
const sample = (name) => readFileSync(path.join(samples, name));

// Runs a native program in a fresh folder; the files it wrote, by name.
function native(program, args) {
  const dir = mkdtempSync(path.join(tmpdir(), 'pixeltools-web-'));
  try {
    mkdirSync(path.join(dir, 'moves'));
    execFileSync(program, args, { cwd: dir, stdio: ['ignore', 'ignore', 'pipe'] });
    const files = readdirSync(dir, { recursive: true }).filter((name) => !name.endsWith('moves')).sort();
    return new Map(files.map((name) => [name, readFileSync(path.join(dir, name))]));
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

function quilletFlags(o) {
  const flags = ['-out', o.out ?? 'sprite', '-format', 'png', '-quiet'];
  for (const [key, flag] of [['angle', '-angle'], ['endAngle', '-endangle'], ['scale', '-scale'],
                             ['endScale', '-endscale'], ['frames', '-frames'], ['sheet', '-sheet'],
                             ['directions', '-directions'], ['canvas', '-canvas'], ['data', '-data'], ['fps', '-fps']])
    if (o[key] !== undefined) flags.push(flag, String(o[key]));
  if (o.cells !== undefined) flags.push('-cells', typeof o.cells === 'string' ? o.cells : `${o.cells.w}x${o.cells.h}`);
  if (o.pivot !== undefined) flags.push('-pivot', Array.isArray(o.pivot) ? o.pivot.join(',') : `${o.pivot.x},${o.pivot.y}`);
  return flags;
}

test('turn gives the files quillet -format png writes, in order, with their names and bytes', async () => {
  const cases = [
    ['slime.png', { angle: 0, endAngle: 350, frames: 36 }],
    ['sword.png', { angle: 10, endAngle: 80, frames: 8, sheet: 3, out: 'turn' }],
    ['sheet.png', { angle: 90 }],
    ['potion.png', { angle: 30, scale: 2, endScale: 0.5, frames: 5, out: 'potion.png' }],
    // Sprite sets and data files: the files come before the data file.
    ['slime.png', { directions: 8, pivot: [8, 12.5], sheet: 4, data: 'json', out: 'walk' }],
    ['sheet.png', { cells: { w: 14, h: 16 }, directions: 2, angle: 30, data: 'godot', fps: 12, canvas: 'keep' }],
    ['sword.png', { angle: 0, endAngle: 90, frames: 3, data: 'json', out: 'swing.png' }],
    ['potion.png', { directions: 4, data: 'godot', out: 'moves/potion' }],
  ];
  for (const [input, options] of cases) {
    const expected = native(process.env.QUILLET, ['-in', path.join(samples, input), ...quilletFlags(options)]);
    const files = await turn(sample(input), options);
    const what = `${input} ${JSON.stringify(options)}`;
    // The frames or sheet in name order, then the data file.
    const data = (name) => (name.endsWith('.png') ? 0 : 1);
    const order = [...expected.keys()].sort((a, b) => data(a) - data(b));
    assert.deepEqual(files.map((f) => f.name), order, what);
    for (const f of files) assert.ok(Buffer.from(f.bytes).equals(expected.get(f.name)), `${what}: ${f.name}`);
  }
});

test('enlarge gives the bytes mostel writes', async () => {
  for (const input of ['sheet.png', 'slime.png']) {
    const expected = native(process.env.MOSTEL, [path.join(samples, input), 'out.png']).get('out.png');
    const progress = [];
    const bytes = await enlarge(sample(input), { onProgress: (p) => progress.push(p) });
    assert.ok(Buffer.from(bytes).equals(expected), input);
    assert.equal(progress.at(-1), 100);
  }
});

test('a cancelled call rejects at once and the next call works', async () => {
  const controller = new AbortController();
  const progress = [];
  const running = turn(sample('slime.png'), {
    angle: 0, endAngle: 350, frames: 36, scale: 4, signal: controller.signal,
    onProgress: (p) => { progress.push(p); if (p > 0) controller.abort(); },
  });
  await assert.rejects(running, { name: 'AbortError' });
  assert.ok(progress.every((p, k) => k === 0 || p >= progress[k - 1]), 'progress only goes up');
  await assert.rejects(turn(sample('slime.png'), { signal: AbortSignal.abort() }), { name: 'AbortError' });
  assert.equal((await turn(sample('slime.png'), { angle: 45 })).length, 1);
});

test('bad input rejects with the library\'s message', async () => {
  const png = sample('slime.png');
  await assert.rejects(turn(Buffer.from('GIF89a not a png at all')), /not a PNG/i);
  const truncated = png.subarray(0, png.length - 30);
  const message = await enlarge(truncated).then(() => 'resolved', (e) => e.message);
  assert.notEqual(message, 'resolved');
  assert.ok(message.length > 0 && !/WebAssembly/.test(message), message);
  await assert.rejects(turn(png, { frames: 0 }), RangeError);
  // A sprite set's bad value: the program's own words, without its name.
  const refused = spawnSync(process.env.QUILLET, ['-in', path.join(samples, 'slime.png'), '-format', 'png',
    '-cells', '5x0', '-quiet'], { stdio: ['ignore', 'ignore', 'pipe'] }).stderr.toString();
  assert.match(refused, /-cells/);
  await assert.rejects(turn(png, { cells: '5x0' }), { message: refused.trim().replace(/^quillet: /, '') });
  await assert.rejects(turn(png, { angle: 'ten' }), TypeError);
  await assert.rejects(enlarge('slime.png'), TypeError);
  // The module is still sound after those.
  assert.ok((await enlarge(png)).length > 0);
});
