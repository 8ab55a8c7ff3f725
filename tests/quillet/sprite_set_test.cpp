// Sprite sets: turns in evenly spaced directions about a pivot, each cell of a strip in every
// direction, all on one canvas. The pivot must sit still on the canvas and exact turns must
// stay exact.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "quillet/job.h"
#include "quillet/sprite_job.h"
#include "scratch_dir.h"

namespace quillet {
namespace {

// Each frame as the sink saw it, laid on the canvas.
struct SeenFrame {
  SinkFrame frame;
  RgbaImage onCanvas;
};

bool Keep(void* context, const SinkFrame& frame) {
  SeenFrame seen{frame, OnCanvasAt(*frame.sprite, frame.canvasWidth, frame.canvasHeight, frame.origin)};
  seen.frame.fileName = "";
  seen.frame.sprite = nullptr;
  static_cast<std::vector<SeenFrame>*>(context)->push_back(std::move(seen));
  return true;
}

// The set of run made from picture (written as in.png), every frame in series order.
std::vector<SeenFrame> RunSet(RunParameters run, const RgbaImage& picture, int threads = 1,
                              std::uint64_t heldBytes = kHeldFrameBytes) {
  EXPECT_TRUE(WritePngFile("in.png", picture));
  AppState app;
  std::snprintf(run.inputName, kPathChars, "in.png");
  std::snprintf(run.outputName, kPathChars, "set");
  run.format = OutputFormat::kPng;
  app.runParameters = run;
  std::vector<SeenFrame> frames;
  FrameSink sink = PngFileSink();
  sink.frame = Keep;
  sink.context = &frames;
  const JobResult result = RunQuilletJob(app, ProgressOf(app), ImageImporter{}, sink, threads, heldBytes);
  EXPECT_TRUE(result.Succeeded()) << result.setRefused;
  return frames;
}

// An asymmetric sprite: a body of many colours, a tail to one side, a soft rim.
RgbaImage Creature(std::int32_t width, std::int32_t height) {
  RgbaImage image = BlankImage(width, height);
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x) {
      const double dx = (x + 0.5 - width * 0.4) / (width * 0.3), dy = (y + 0.5 - height * 0.45) / (height * 0.35);
      const double r = dx * dx + dy * dy;
      const bool tail = x >= width / 2 && x < width - 3 && y >= height * 3 / 5 && y < height * 3 / 5 + 6;
      if (r < 0.8 || tail)
        image.At(x, y) = PackRgba(static_cast<std::uint8_t>(x * 3), static_cast<std::uint8_t>(y * 3),
                                  static_cast<std::uint8_t>(128 + (x / 6 + y / 6) % 2 * 100), 255);
      else if (r < 1.0)
        image.At(x, y) = PackRgba(30, 20, 10, 128);
    }
  return image;
}

// The alpha-weighted centroid of a picture, in pixels from its top-left corner.
void Centroid(const RgbaImage& image, double& x, double& y) {
  double sum = 0, sx = 0, sy = 0;
  for (std::int32_t row = 0; row < image.height; ++row)
    for (std::int32_t column = 0; column < image.width; ++column) {
      const double a = AlphaOf(image.At(column, row));
      sum += a;
      sx += a * (column + 0.5);
      sy += a * (row + 0.5);
    }
  x = sx / sum;
  y = sy / sum;
}

// How far each frame's centroid lies from the picture's centroid turned about the pivot onto
// the point where the first frame (an exact turn) holds the pivot: the largest distance.
double LargestDrift(const std::vector<SeenFrame>& frames, const RgbaImage& picture, double pivotX, double pivotY,
                    double canvasPivotX, double canvasPivotY) {
  double cx = 0, cy = 0;
  Centroid(picture, cx, cy);
  double largest = 0;
  for (const SeenFrame& seen : frames) {
    const double radians = seen.frame.angle * 3.14159265358979323846 / 180.0;
    const double dx = cx - pivotX, dy = cy - pivotY;
    // Counter-clockwise on a picture whose rows run down.
    const double idealX = canvasPivotX + dx * std::cos(radians) + dy * std::sin(radians);
    const double idealY = canvasPivotY - dx * std::sin(radians) + dy * std::cos(radians);
    double x = 0, y = 0;
    Centroid(seen.onCanvas, x, y);
    largest = std::max(largest, std::hypot(x - idealX, y - idealY));
  }
  return largest;
}

class SpriteSet : public testing::ScratchDirTest {};

// Placing each frame by where its pivot landed holds the turn still: every frame's centroid
// within 0.6 px of the ideal turn, where the centre pixel alone let it jump.
TEST_F(SpriteSet, ThirtySixTurnsStayWithinSixTenthsOfAPixel) {
  const RgbaImage picture = Creature(72, 72);
  RunParameters run;
  run.directions = 36;
  const std::vector<SeenFrame> frames = RunSet(run, picture, 2);
  ASSERT_EQ(frames.size(), 36u);
  const double drift = LargestDrift(frames, picture, 36, 36, frames[0].frame.pivotX, frames[0].frame.pivotY);
  std::printf("36 directions about the centre: largest drift %.3f px\n", drift);
  EXPECT_LE(drift, 0.6);

  // The same turns as a plain series keep the centre-pixel placement they always had.
  RunParameters plain;
  plain.frameCount = 36;
  plain.endAngle = 350;
  const std::vector<SeenFrame> old = RunSet(plain, picture, 2);
  ASSERT_EQ(old.size(), 36u);
  std::printf("36 turns placed by their centre pixels: largest drift %.3f px\n",
              LargestDrift(old, picture, 36, 36, old[0].frame.pivotX, old[0].frame.pivotY));
  for (std::size_t k = 0; k < frames.size(); ++k) {
    EXPECT_EQ(frames[k].frame.angle, 10.0 * k);
    EXPECT_EQ(old[k].frame.angle, frames[k].frame.angle);
    EXPECT_EQ(old[k].frame.directions, 1);
    EXPECT_EQ(frames[k].frame.direction, static_cast<int>(k));
    EXPECT_EQ(frames[k].frame.directions, 36);
  }
}

// Turned about a corner pixel, in eight directions: that pixel's colour stays on one canvas
// pixel, where the sink is told the pivot lies.
TEST_F(SpriteSet, EightDirectionsAboutACornerPixelKeepItOnOneCanvasPixel) {
  RgbaImage picture = Creature(40, 32);
  const Rgba marker = PackRgba(250, 10, 200, 255);
  for (std::int32_t y = 0; y < picture.height; ++y)
    for (std::int32_t x = 0; x < 12; ++x) picture.At(x, y) = PackRgba(10, 90, 30, 255);  // the arm
  picture.At(0, 31) = marker;
  RunParameters run;
  run.directions = 8;
  run.angle = 10;
  run.pivotGiven = true;
  run.pivotX = 0.5;
  run.pivotY = 31.5;
  const std::vector<SeenFrame> frames = RunSet(run, picture);
  ASSERT_EQ(frames.size(), 8u);
  const std::int32_t px = static_cast<std::int32_t>(std::floor(frames[0].frame.pivotX));
  const std::int32_t py = static_cast<std::int32_t>(std::floor(frames[0].frame.pivotY));
  for (const SeenFrame& seen : frames) {
    EXPECT_EQ(seen.onCanvas.At(px, py), marker) << "angle " << seen.frame.angle;
    EXPECT_NEAR(seen.frame.pivotX, px + 0.5, 0.5);
    EXPECT_NEAR(seen.frame.pivotY, py + 0.5, 0.5);
    EXPECT_EQ(seen.frame.canvasWidth, frames[0].frame.canvasWidth);
  }
}

// A strip of three cells (and a blank fourth, which is no frame) in four directions: exact
// quarter turns of each cell, the pivot on one canvas point, direction-major order, also when
// the frames, made cell by cell, wait in the job's temporary file.
TEST_F(SpriteSet, QuarterTurnsOfAStripAreExact) {
  constexpr std::int32_t kW = 10, kH = 6;
  const RgbaImage body = Creature(kW, kH);
  RgbaImage strip = BlankImage(4 * kW, kH);
  std::vector<RgbaImage> cells;
  for (int c = 0; c < 3; ++c) {
    RgbaImage cell = body;
    for (std::int32_t y = 0; y < kH; ++y)
      for (std::int32_t x = 0; x < kW; ++x)
        if (AlphaOf(cell.At(x, y)) != 0 && (x + y + c) % 5 == 0) cell.At(x, y) = PackRgba(0, 0, 250, 255);
    cell.At(c, 0) = PackRgba(255, 255, 0, 255);
    for (std::int32_t y = 0; y < kH; ++y)
      for (std::int32_t x = 0; x < kW; ++x) strip.At(c * kW + x, y) = cell.At(x, y);
    cells.push_back(cell);
  }
  for (bool keep : {false, true}) {
    RunParameters run;
    run.directions = 4;
    run.cellWidth = kW;
    run.cellHeight = kH;
    run.pivotGiven = true;
    run.pivotX = 3;
    run.pivotY = 2;
    run.keepCanvas = keep;
    const std::vector<SeenFrame> frames = RunSet(run, strip, 1, keep ? 0 : kHeldFrameBytes);
    ASSERT_EQ(frames.size(), 12u);
    const double canvasX = frames[0].frame.pivotX, canvasY = frames[0].frame.pivotY;
    for (std::size_t k = 0; k < frames.size(); ++k) {
      const SinkFrame& f = frames[k].frame;
      const int d = static_cast<int>(k / 3), c = static_cast<int>(k % 3);
      EXPECT_EQ(f.direction, d);
      EXPECT_EQ(f.cell, c);
      EXPECT_EQ(f.cells, 3);
      EXPECT_EQ(f.angle, 90.0 * d);
      EXPECT_EQ(f.pivotX, canvasX);
      EXPECT_EQ(f.pivotY, canvasY);
      // The cell turned, laid with its turned pivot on the canvas pivot.
      const RgbaImage turned = QuarterTurn(cells[static_cast<std::size_t>(c)], d);
      const double tx[] = {3, 2, kW - 3.0, kH - 2.0}, ty[] = {2, kW - 3.0, kH - 2.0, 3};
      SpriteFrame laid{turned, 0, 0, tx[d], ty[d]};
      const RgbaImage expected =
          OnCanvasAt(laid, f.canvasWidth, f.canvasHeight,
                     {static_cast<std::int64_t>(canvasX - tx[d]), static_cast<std::int64_t>(canvasY - ty[d])});
      EXPECT_EQ(frames[k].onCanvas.pixels, expected.pixels) << "direction " << d << " cell " << c;
    }
    if (keep) {
      // The cell's canvas, grown evenly on each side to hold the turns.
      EXPECT_EQ((frames[0].frame.canvasWidth - kW) % 2, 0);
      EXPECT_EQ((frames[0].frame.canvasHeight - kH) % 2, 0);
      EXPECT_EQ(canvasX - (frames[0].frame.canvasWidth - kW) / 2, 3.0);
      EXPECT_EQ(canvasY - (frames[0].frame.canvasHeight - kH) / 2, 2.0);
    }
  }
}

}  // namespace
}  // namespace quillet
