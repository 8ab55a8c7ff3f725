// Loads a sheet and JSON data file that quillet writes in PixiJS and in Phaser, inside Debian's
// headless chromium driven by puppeteer-core, and checks what the engines made of them against
// the sheet's own pixels.
// Usage: node consumers.mjs QUILLET INPUT_PNG WORK_DIR NODE_MODULES_DIR
import { spawnSync } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const [quillet, input, work, modules] = process.argv.slice(2);
const here = path.dirname(fileURLToPath(import.meta.url));
const puppeteer = createRequire(path.join(modules, 'index.js'))('puppeteer-core');

let passed = 0, failed = 0;
function check(ok, what, detail) {
  if (ok) { ++passed; return; }
  ++failed;
  console.log(`FAILED: ${what}${detail === undefined ? '' : ': ' + JSON.stringify(detail)}`);
}
const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);
const near = (a, b) => Math.abs(a - b) < 1e-9;

// Bounded: a browser that hangs ends the test.
const deadline = setTimeout(() => { console.log('FAILED: the consumers did not finish in time'); process.exit(1); }, 240000);

const out = path.join(work, 'out');
fs.rmSync(out, { recursive: true, force: true });
fs.mkdirSync(out, { recursive: true });
const count = 5, columns = 3, fps = 8;
const made = spawnSync(quillet, ['-in', input, '-out', path.join(out, 'walk'), '-format', 'png', '-sheet', `${columns}`,
                                 '-angle', '0', '-endangle', '120', '-frames', `${count}`, '-data', 'json',
                                 '-fps', `${fps}`, '-quiet'], { encoding: 'utf8' });
check(made.status === 0, 'quillet wrote the sheet and its data', made.stderr);
const names = Array.from({ length: count }, (_, k) => `walk_${k + 1}.png`);

const types = { '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript', '.json': 'application/json',
                '.png': 'image/png' };
const roots = { '/modules/': modules, '/out/': out };
const server = http.createServer((request, response) => {
  const url = decodeURIComponent(new URL(request.url, 'http://127.0.0.1').pathname);
  let file = null;
  for (const [prefix, root] of Object.entries(roots))
    if (url.startsWith(prefix)) file = path.join(root, path.normalize(url.slice(prefix.length)).replace(/^(\.\.[/\\])+/, ''));
  if (url === '/test.html' || url === '/page.js') file = path.join(here, url.slice(1));
  if (!file || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
    response.writeHead(404);
    response.end();
    return;
  }
  response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
  fs.createReadStream(file).pipe(response);
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const base = `http://127.0.0.1:${server.address().port}`;

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true,
  args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--disable-gpu-sandbox'],
});
let result = null;
try {
  const page = await browser.newPage();
  page.on('pageerror', (error) => console.log(`page error: ${error.message}`));
  await page.goto(`${base}/test.html`, { waitUntil: 'load' });
  result = await page.evaluate((params) => window.runChecks(params),
                               { image: '/out/walk.png', json: '/out/walk.json', names, columns });
} catch (error) {
  check(false, 'the engines loaded the sheet', String(error));
} finally {
  await browser.close();
  server.close();
}

if (result) {
  const { expected, pixi, phaser } = result;
  const duration = 1000 / fps;
  // PixiJS
  check(same(pixi.meta.size, { w: result.sheet.width, h: result.sheet.height }), 'meta.size is the sheet', pixi.meta.size);
  check(pixi.meta.app === 'quillet' && pixi.meta.format === 'RGBA8888' && pixi.meta.image === 'walk.png' &&
        pixi.meta.scale === '1', 'meta names the program, the image and its format', pixi.meta);
  check(same(pixi.textureNames, names), 'PixiJS has every frame by name, in order', pixi.textureNames);
  pixi.frames.forEach((f, k) => {
    const e = expected[k];
    if (!f) return check(false, `PixiJS frame ${names[k]}`);
    check(same(f.frame, e.box), `PixiJS ${names[k]}: its box in the sheet`, { got: f.frame, want: e.box });
    check(same(f.orig, { w: e.cellWidth, h: e.cellHeight }), `PixiJS ${names[k]}: its canvas`, f.orig);
    const trimmed = e.box.w !== e.cellWidth || e.box.h !== e.cellHeight;
    check(trimmed ? f.trim && f.trim.x === e.trim.x && f.trim.y === e.trim.y : !f.trim || same(f.trim, { x: 0, y: 0, w: e.cellWidth, h: e.cellHeight }),
          `PixiJS ${names[k]}: where its box sits on the canvas`, f.trim);
    check(f.anchor.x > 0 && f.anchor.x < 1 && f.anchor.y > 0 && f.anchor.y < 1, `PixiJS ${names[k]}: anchor on the canvas`, f.anchor);
  });
  // Frames 1 and 4 are exact quarter turns (0 and 90 degrees) of the same picture about its centre.
  check(same(pixi.frames[0].anchor, pixi.frames[3].anchor), 'the pivot stays put between quarter turns');
  check(pixi.comparedPixels === count * expected[0].cellWidth * expected[0].cellHeight && pixi.mismatchedPixels === 0,
        'PixiJS draws every frame on its canvas as the sheet holds it', { compared: pixi.comparedPixels, mismatched: pixi.mismatchedPixels });
  check(same(pixi.animations, { walk: names }), 'PixiJS animations', pixi.animations);
  // Phaser
  check(same(phaser.frameNames, names), 'Phaser has every frame by name, in order', phaser.frameNames);
  phaser.frames.forEach((f, k) => {
    const e = expected[k];
    if (!f) return check(false, `Phaser frame ${names[k]}`);
    check(same(f.cut, e.box), `Phaser ${names[k]}: its box in the sheet`, f.cut);
    check(same(f.real, { w: e.cellWidth, h: e.cellHeight }), `Phaser ${names[k]}: its canvas`, f.real);
    const trimmed = e.box.w !== e.cellWidth || e.box.h !== e.cellHeight;
    check(f.trimmed === trimmed && (!trimmed || same(f.spriteSource, e.trim)), `Phaser ${names[k]}: its trim`, f);
    check(f.customPivot && near(f.pivot.x, pixi.frames[k].anchor.x) && near(f.pivot.y, pixi.frames[k].anchor.y),
          `Phaser ${names[k]}: the pivot PixiJS read`, f.pivot);
    check(f.duration === duration, `Phaser ${names[k]}: duration`, f.duration);
  });
  check(phaser.comparedPixels === pixi.comparedPixels && phaser.mismatchedPixels === 0, 'Phaser reads every frame\'s pixels as the sheet holds them',
        { compared: phaser.comparedPixels, mismatched: phaser.mismatchedPixels });
  check(same(phaser.tags.map((t) => [t.name, t.direction, t.frames, t.playing, t.durations]),
             [['walk', 'forward', names, names[0], names.map(() => duration)]]), 'Phaser plays the frame tags', phaser.tags);
  check(same(phaser.animations, { walk: names }), 'Phaser keeps the animations', phaser.animations);
}
clearTimeout(deadline);
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 && passed > 0 ? 0 : 1);
