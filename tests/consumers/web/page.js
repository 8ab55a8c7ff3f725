// Runs in the browser: loads a quillet sheet and its JSON in PixiJS and in Phaser and reports
// what each engine made of every frame next to what the sheet's own pixels say.

// The sheet as straight (not premultiplied) RGBA through the browser's own PNG decoder.
async function sheetPixels(url) {
  const blob = await (await fetch(url)).blob();
  const bitmap = await createImageBitmap(blob, { premultiplyAlpha: 'none', colorSpaceConversion: 'none' });
  const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
  const context = canvas.getContext('2d', { willReadFrequently: true });
  context.drawImage(bitmap, 0, 0);
  return { width: bitmap.width, height: bitmap.height,
           data: context.getImageData(0, 0, bitmap.width, bitmap.height).data };
}

// What the sheet says of each frame: its cell from the layout (rows of `columns` in order) and
// the box of its visible pixels in that cell.
function expectedFrames(sheet, count, columns) {
  const across = Math.min(columns, count), down = Math.ceil(count / across);
  const cellWidth = sheet.width / across, cellHeight = sheet.height / down;
  const frames = [];
  for (let k = 0; k < count; ++k) {
    const cellX = (k % across) * cellWidth, cellY = Math.floor(k / across) * cellHeight;
    let left = Infinity, top = Infinity, right = -1, bottom = -1;
    for (let y = 0; y < cellHeight; ++y)
      for (let x = 0; x < cellWidth; ++x)
        if (sheet.data[((cellY + y) * sheet.width + cellX + x) * 4 + 3] > 0) {
          left = Math.min(left, x); top = Math.min(top, y);
          right = Math.max(right, x); bottom = Math.max(bottom, y);
        }
    frames.push({ cellX, cellY, cellWidth, cellHeight,
                  box: { x: cellX + left, y: cellY + top, w: right - left + 1, h: bottom - top + 1 },
                  trim: { x: left, y: top } });
  }
  return frames;
}

function pixelAt(sheet, x, y) {
  const i = (y * sheet.width + x) * 4;
  return Array.from(sheet.data.slice(i, i + 4));
}

// Whether an engine's pixel is the sheet's: colour and alpha exact where the sheet is opaque,
// alpha within a step of rounding elsewhere (engines keep colours premultiplied).
function samePixel(got, want) {
  if (want[3] === 255) return got.every((v, i) => v === want[i]);
  if (want[3] === 0) return got[3] === 0;
  return Math.abs(got[3] - want[3]) <= 1;
}

async function checkPixi(params, sheet, expected) {
  const report = { frames: [], animations: {}, mismatchedPixels: 0, comparedPixels: 0 };
  const app = new PIXI.Application();
  await app.init({ width: 64, height: 64, preference: 'webgl', backgroundAlpha: 0 });
  const spritesheet = await PIXI.Assets.load(params.json);
  report.meta = spritesheet.data.meta;
  report.textureNames = Object.keys(spritesheet.textures);
  params.names.forEach((name, k) => {
    const texture = spritesheet.textures[name];
    if (!texture) { report.frames.push(null); return; }
    report.frames.push({
      frame: { x: texture.frame.x, y: texture.frame.y, w: texture.frame.width, h: texture.frame.height },
      orig: { w: texture.orig.width, h: texture.orig.height },
      trim: texture.trim ? { x: texture.trim.x, y: texture.trim.y, w: texture.trim.width, h: texture.trim.height } : null,
      anchor: { x: texture.defaultAnchor.x, y: texture.defaultAnchor.y },
    });
    // The frame drawn on its whole canvas is the sheet's cell.
    const sprite = new PIXI.Sprite(texture);
    sprite.anchor.set(0, 0);
    const e = expected[k];
    const got = app.renderer.extract.pixels({ target: sprite,
                                             frame: new PIXI.Rectangle(0, 0, e.cellWidth, e.cellHeight) });
    for (let y = 0; y < e.cellHeight; ++y)
      for (let x = 0; x < e.cellWidth; ++x) {
        const i = (y * got.width + x) * 4;
        const pixel = Array.from(got.pixels.slice(i, i + 4));
        ++report.comparedPixels;
        if (!samePixel(pixel, pixelAt(sheet, e.cellX + x, e.cellY + y))) ++report.mismatchedPixels;
      }
  });
  for (const [name, textures] of Object.entries(spritesheet.animations))
    report.animations[name] = textures.map((t) => params.names.find((n) => spritesheet.textures[n] === t) || null);
  app.destroy();
  return report;
}

function checkPhaser(params, sheet, expected) {
  return new Promise((resolve, reject) => {
    const report = { frames: [], tags: [], animations: {}, mismatchedPixels: 0, comparedPixels: 0 };
    const timer = setTimeout(() => reject(new Error('Phaser did not start')), 30000);
    new Phaser.Game({
      type: Phaser.CANVAS, width: 64, height: 64, banner: false, audio: { noAudio: true },
      scene: {
        preload() { this.load.atlas('walk', params.image, params.json); },
        create() {
          const texture = this.textures.get('walk');
          const names = texture.getFrameNames();
          report.frameNames = names;
          for (const name of params.names) {
            const f = texture.has(name) ? texture.get(name) : null;
            if (!f) { report.frames.push(null); continue; }
            report.frames.push({ cut: { x: f.cutX, y: f.cutY, w: f.cutWidth, h: f.cutHeight },
                                 real: { w: f.realWidth, h: f.realHeight }, trimmed: f.trimmed,
                                 spriteSource: { x: f.x, y: f.y }, customPivot: f.customPivot,
                                 pivot: { x: f.pivotX, y: f.pivotY }, duration: f.customData.duration });
            // Pixels by their place on the frame's canvas: none outside its trimmed box.
            const e = expected[params.names.indexOf(name)];
            for (let y = 0; y < f.realHeight; ++y)
              for (let x = 0; x < f.realWidth; ++x) {
                const c = this.textures.getPixel(x, y, 'walk', name);
                ++report.comparedPixels;
                if (!samePixel(c ? [c.red, c.green, c.blue, c.alpha] : [0, 0, 0, 0], pixelAt(sheet, e.cellX + x, e.cellY + y)))
                  ++report.mismatchedPixels;
              }
          }
          // The frame tags become animations as a game makes them: the frames from..to in order.
          const meta = texture.customData.meta || {};
          for (const tag of meta.frameTags || []) {
            const animation = this.anims.create({
              key: tag.name, repeat: -1,
              frames: names.slice(tag.from, tag.to + 1).map((frame) => ({ key: 'walk', frame,
                duration: texture.get(frame).customData.duration })),
            });
            report.tags.push({ name: tag.name, direction: tag.direction,
                               frames: animation.frames.map((a) => a.textureFrame),
                               durations: animation.frames.map((a) => a.duration) });
            const sprite = this.add.sprite(0, 0, 'walk');
            sprite.play(tag.name);
            report.tags[report.tags.length - 1].playing = sprite.frame.name;
          }
          report.animations = texture.customData.animations || {};
          clearTimeout(timer);
          this.game.destroy(true);
          resolve(report);
        },
      },
    });
  });
}

window.runChecks = async (params) => {
  const sheet = await sheetPixels(params.image);
  const expected = expectedFrames(sheet, params.names.length, params.columns);
  return { sheet: { width: sheet.width, height: sheet.height }, expected,
           pixi: await checkPixi(params, sheet, expected), phaser: await checkPhaser(params, sheet, expected) };
};
