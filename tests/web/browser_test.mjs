// The page in Debian's chromium (headless, driven by puppeteer-core): a sprite chosen as a user
// chooses it, values typed in, the turn run and its files downloaded, byte for byte the native
// programs' files; Cancel; a corrupt file's message; no console error. A screenshot is kept in
// the build tree (PIXELTOOLS_ARTEFACTS).
import { test, after, before } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { createServer } from 'node:http';
import { createRequire } from 'node:module';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const require = createRequire(path.resolve(process.env.PIXELTOOLS_TEST_DEPS, 'package.json'));
const puppeteer = require('puppeteer-core');
const site = path.resolve(process.env.PIXELTOOLS_SITE);
const samples = path.resolve(process.env.PIXELTOOLS_SAMPLES);
const artefacts = path.resolve(process.env.PIXELTOOLS_ARTEFACTS);
const { turn } = await import(pathToFileURL(path.resolve(process.env.PIXELTOOLS_PACKAGE, 'index.node.js')).href);

const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };
let server, browser, page, work, downloads;
const consoleErrors = [];

before(async () => {
  server = createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/\/$/, '/index.html');
    const file = path.join(site, path.normalize(name));
    if (!file.startsWith(site) || !existsSync(file)) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'content-type': types[path.extname(file)] ?? 'application/octet-stream' });
    response.end(readFileSync(file));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  work = mkdtempSync(path.join(tmpdir(), 'pixeltools-page-'));
  downloads = path.join(work, 'downloads');
  mkdirSync(downloads);
  mkdirSync(artefacts, { recursive: true });
  browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
  });
  page = await browser.newPage();
  page.on('console', (message) => { if (message.type() === 'error') consoleErrors.push(message.text()); });
  page.on('pageerror', (error) => consoleErrors.push(String(error)));
  const cdp = await page.createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  await page.setViewport({ width: 1100, height: 1000 });
  await page.goto(`http://127.0.0.1:${server.address().port}/`, { waitUntil: 'load' });
});

after(async () => {
  await browser?.close();
  server?.close();
  if (work) rmSync(work, { recursive: true, force: true });
});

async function choose(file) {
  const input = await page.$('#file');
  await input.uploadFile(file);
  await page.waitForFunction(() => !document.getElementById('turn-run').disabled);
}

async function type(selector, text) {
  await page.click(selector, { clickCount: 3 });
  await page.keyboard.press('Backspace');
  await page.keyboard.type(text);
}

// Clicks a download link and waits for its file to arrive whole.
async function download(selector, name) {
  rmSync(path.join(downloads, name), { force: true });
  await page.click(selector);
  return arrived(name);
}

async function arrived(name) {
  const file = path.join(downloads, name);
  for (let waited = 0; waited < 20000; waited += 100) {
    const busy = readdirSync(downloads).some((f) => f.endsWith('.crdownload'));
    if (existsSync(file) && !busy) return readFileSync(file);
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  throw new Error(`${name} was not downloaded`);
}

function native(program, args) {
  const dir = mkdtempSync(path.join(work, 'native-'));
  execFileSync(program, args, { cwd: dir, stdio: ['ignore', 'ignore', 'pipe'] });
  return (name) => readFileSync(path.join(dir, name));
}

test('a turn chosen, typed and run on the page downloads the files quillet writes', async () => {
  await choose(path.join(samples, 'sword.png'));
  assert.equal(await page.$eval('#out', (e) => e.value), 'sword');
  await type('#angle', '15');
  await type('#end-angle', '300');
  await type('#frames', '12');
  await type('#scale', '2');
  await type('#columns', '4');
  await page.click('#turn-run');
  await page.waitForFunction(() => /frames and a sheet in/.test(document.getElementById('status').textContent), { timeout: 60000 });
  const expected = native(process.env.QUILLET, ['-in', path.join(samples, 'sword.png'), '-out', 'sword', '-angle', '15',
    '-endangle', '300', '-frames', '12', '-scale', '2', '-endscale', '1', '-format', 'png', '-quiet']);
  const sheet = native(process.env.QUILLET, ['-in', path.join(samples, 'sword.png'), '-out', 'sword', '-angle', '15',
    '-endangle', '300', '-frames', '12', '-scale', '2', '-endscale', '1', '-format', 'png', '-sheet', '4', '-quiet']);
  const names = await page.$$eval('#frame-links a', (links) => links.map((a) => a.download));
  assert.deepEqual(names, Array.from({ length: 12 }, (_, k) => `sword_${String(k + 1).padStart(2, '0')}.png`));
  assert.ok((await download('#sheet-link', 'sword.png')).equals(sheet('sword.png')), 'sheet');
  for (const name of names) rmSync(path.join(downloads, name), { force: true });
  await page.click('#all-frames');
  for (const name of names) assert.ok((await arrived(name)).equals(expected(name)), name);
  const size = await page.$eval('#play', (c) => [c.width, c.height, c.style.width]);
  assert.ok(size[0] > 0 && size[1] > 0 && size[2] === `${size[0] * 4}px`, 'the animation is shown at zoom 4');
  await page.screenshot({ path: path.join(artefacts, 'page.png'), fullPage: true });
});

test('the mostel tab downloads the enlargement mostel writes', async () => {
  await page.click('#tab-enlarge');
  await page.click('#enlarge-run');
  await page.waitForFunction(() => /Enlarged to/.test(document.getElementById('status').textContent));
  const expected = native(process.env.MOSTEL, [path.join(samples, 'sword.png'), 'out.png'])('out.png');
  assert.ok((await download('#enlarged-link', 'sword_3x.png')).equals(expected));
  await page.screenshot({ path: path.join(artefacts, 'page-mostel.png') });
  await page.click('#tab-turn');
});

test('a sprite set with its pivot clicked on the sprite downloads quillet\'s sheet and data file', async () => {
  await choose(path.join(samples, 'slime.png'));
  await type('#angle', '0');
  await type('#scale', '1');
  await type('#directions', '8');
  await type('#columns', '4');
  await page.select('#data', 'json');
  // The sprite is shown 4 times its size inside a border of 1 pixel: (35, 51) is (8.5, 12.5).
  const pick = await page.$('#pick');
  await pick.click({ offset: { x: 35, y: 51 } });
  assert.equal(await page.$eval('#pivot', (e) => e.value), '8.5,12.5');
  await page.click('#turn-run');
  await page.waitForFunction(() => /a data file for each in/.test(document.getElementById('status').textContent), { timeout: 60000 });
  const flags = ['-in', path.join(samples, 'slime.png'), '-out', 'slime', '-angle', '0', '-scale', '1', '-directions', '8',
    '-pivot', '8.5,12.5', '-data', 'json', '-fps', '12', '-format', 'png', '-quiet'];
  const frames = native(process.env.QUILLET, flags);
  const sheet = native(process.env.QUILLET, [...flags, '-sheet', '4']);
  const names = await page.$$eval('#frame-links a', (links) => links.map((a) => a.download));
  assert.deepEqual(names, [...Array.from({ length: 8 }, (_, k) => `slime_${k + 1}.png`), 'slime.json', 'slime.json']);
  assert.ok((await download('#sheet-link', 'slime.png')).equals(sheet('slime.png')), 'sheet');
  assert.ok((await download('#frame-links li:nth-child(9) a', 'slime.json')).equals(frames('slime.json')), 'frames data');
  assert.ok((await download('#frame-links li:nth-child(10) a', 'slime.json')).equals(sheet('slime.json')), 'sheet data');
  await page.screenshot({ path: path.join(artefacts, 'page-set.png'), fullPage: true });
  await type('#directions', '0');
  await type('#pivot', '');
  await page.select('#data', '');
});

test('Cancel stops a turn at once; a corrupt file shows the library\'s message', async () => {
  await type('#frames', '360');
  await type('#scale', '6');
  await page.click('#turn-run');
  await page.waitForSelector('#cancel:not([hidden])');
  await page.waitForFunction(() => document.getElementById('progress').value > 0, { timeout: 30000 });
  await page.click('#cancel');
  await page.waitForFunction(() => document.getElementById('status').textContent === 'Cancelled.', { timeout: 2000 });
  assert.ok(await page.$eval('#progress', (e) => e.hidden));

  const good = readFileSync(path.join(samples, 'slime.png'));
  const corrupt = Buffer.from(good);
  corrupt.fill(0x55, 40, 80);
  const file = path.join(work, 'corrupt.png');
  writeFileSync(file, corrupt);
  const message = await turn(corrupt).then(() => null, (e) => e.message);
  assert.ok(message, 'the library refuses the corrupt file');
  await choose(file);
  await type('#frames', '4');
  await type('#scale', '1');
  await page.click('#turn-run');
  await page.waitForSelector('#error:not([hidden])');
  assert.equal(await page.$eval('#error', (e) => e.textContent), message);
  assert.deepEqual(consoleErrors, []);
});
