// Transparent sprites: RGBA pictures, the 24-bit stand-ins the engine turns in their place,
// and the frames, canvases and sheets made from the turned results.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "quillet/bitmap.h"

namespace quillet {

// An RGBA value packed as R | G << 8 | B << 16 | A << 24.
using Rgba = std::uint32_t;

inline constexpr Rgba kTransparent = 0;

inline Rgba PackRgba(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
  return static_cast<Rgba>(r) | static_cast<Rgba>(g) << 8 | static_cast<Rgba>(b) << 16 | static_cast<Rgba>(a) << 24;
}
inline std::uint8_t AlphaOf(Rgba value) { return static_cast<std::uint8_t>(value >> 24); }

// A picture of width x height RGBA values, rows from the top.
struct RgbaImage {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<Rgba> pixels;

  Rgba At(std::int32_t x, std::int32_t y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
  Rgba& At(std::int32_t x, std::int32_t y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// A width x height image of kTransparent; empty when either side is not positive.
RgbaImage BlankImage(std::int32_t width, std::int32_t height);

bool HasTransparency(const RgbaImage& image);

// One stand-in colour (packed as PackColour reads it) per distinct RGBA value of a picture,
// all different: opaque values stand for themselves, every fully transparent value for the
// key colour, which no opaque value uses, and each partly transparent value for its look over
// the key, moved to the nearest free colour where that is taken. A picture with so many
// values that no free colour is left for one of them gets no map: outOfColours is set and
// both lists are empty.
struct StandInMap {
  std::uint32_t key = 0;
  bool outOfColours = false;
  std::vector<std::pair<Rgba, std::uint32_t>> toStandIn;  // by RGBA value; alpha 0 not listed
  std::vector<std::pair<std::uint32_t, Rgba>> toRgba;   // by stand-in; the key gives kTransparent
};

StandInMap BuildStandInMap(const RgbaImage& image);

// The stand-in of a value of the mapped picture (any value of alpha 0 gives the key).
std::uint32_t StandInOf(const StandInMap& map, Rgba value);

// The value a stand-in stands for; false for a colour the map does not hold.
bool RgbaOfStandIn(const StandInMap& map, std::uint32_t standIn, Rgba& value);

// The stand-ins of the picture as a 24-bit bitmap, with `margin` pixels of the key colour
// on every side. False when the bitmap would exceed kMaxPixelBlockBytes.
bool StandInBitmap(const RgbaImage& image, const StandInMap& map, std::int32_t margin, WorkingBitmap& bitmap);

// The RGBA values of a 24-bit bitmap of stand-ins; false when it holds a colour the map
// does not know.
bool RgbaFromStandIns(const std::uint8_t* header, const std::uint8_t* pixels, std::size_t pixelBytes,
                     const StandInMap& map, RgbaImage& image);

// The picture laid over an opaque colour (packed as PackColour reads it), as a 24-bit bitmap
// whose header fields other than size, planes and bit count are 0. Opaque pixels keep their
// colour exactly. False when the bitmap would exceed kMaxPixelBlockBytes.
bool CompositeOver(const RgbaImage& image, std::uint32_t background, WorkingBitmap& bitmap);

// A 24-bit bitmap's pixels as opaque RGBA values: a working bitmap, or a rendered frame.
RgbaImage RgbaOfBitmap(const WorkingBitmap& bitmap);
RgbaImage RgbaOfBitmap(const OutputBitmap& frame);

// The picture turned by quarters x 90 degrees counter-clockwise (any integer).
RgbaImage QuarterTurn(const RgbaImage& image, int quarters);

// Half-open box of pixels; empty when right <= left or bottom <= top.
struct PixelBox {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool Empty() const { return right <= left || bottom <= top; }
};

// The smallest box holding every pixel that is not fully transparent.
PixelBox VisibleBox(const RgbaImage& image);

// One frame of a series: its picture and where the turned picture's centre and the point it
// turned about (its pivot) lie in it, in pixels from the top-left corner.
struct SpriteFrame {
  RgbaImage image;
  double centreX = 0.0;
  double centreY = 0.0;
  double pivotX = 0.0;
  double pivotY = 0.0;
};

// The canvas that every frame of a series fits on with its centre at one place: the tight
// box around the visible pixels of all frames, each laid with its centre pixel on the same
// canvas pixel. origins[k] is where frame k's top-left corner lands. A series without a
// visible pixel gets a 1 x 1 canvas.
struct SeriesCanvas {
  std::int32_t width = 1;
  std::int32_t height = 1;
  std::vector<std::pair<std::int64_t, std::int64_t>> origins;
};

SeriesCanvas CommonCanvas(const std::vector<SpriteFrame>& frames);

// Frame k of the series laid on its canvas.
RgbaImage OnCanvas(const SpriteFrame& frame, const SeriesCanvas& canvas, std::size_t k);

// The same canvas gathered one frame at a time, so that the frames need not be held at
// once: how far the visible pixels of the frames so far reach around their centre pixels.
// A sprite set places its frames by their pivots instead: each frame is moved by whole pixels
// so that its pivot lands nearest the one canvas point whose place within its pixel is the
// pivot's place within its pixel in the picture (fractionX, fractionY), and the reach is
// counted from that point's pixel.
struct CanvasReach {
  bool any = false;  // some frame so far had a visible pixel
  std::int64_t left = 0, top = 0, right = 0, bottom = 0;
  bool byPivot = false;
  double fractionX = 0.0, fractionY = 0.0;  // in [0, 1)
};
// A reach that places frames by their pivots, for a picture's pivot at (pivotX, pivotY).
CanvasReach PivotReach(double pivotX, double pivotY);
// Grows the reach evenly on each side, as far as its frames need, around the box of a
// width x height picture as it lies unturned with its pivot at (pivotX, pivotY): the canvas of
// frames that keep the picture's canvas. The reach must place by the same pivot.
void KeepPictureCanvas(CanvasReach& reach, std::int32_t width, std::int32_t height, double pivotX, double pivotY);
void Widen(CanvasReach& reach, const SpriteFrame& frame);
// The canvas of the frames gathered (1 x 1 when none had a visible pixel), without origins.
SeriesCanvas CanvasOf(const CanvasReach& reach);
// Where the frame's top-left corner lands on that canvas.
std::pair<std::int64_t, std::int64_t> OriginOn(const CanvasReach& reach, const SpriteFrame& frame);
// The frame laid on a width x height canvas with its top-left corner at origin.
RgbaImage OnCanvasAt(const SpriteFrame& frame, std::int32_t width, std::int32_t height,
                     std::pair<std::int64_t, std::int64_t> origin);

// Cells of one size, `columns` to a row (fewer when there are fewer cells), in order; the
// cells left over in the last row are transparent. Empty when the sheet would exceed
// kMaxPixelBlockBytes at 4 bytes a pixel.
RgbaImage LayOutSheet(const std::vector<RgbaImage>& cells, std::int32_t columns);

// Transparent pixels of margin on every side, so that the engine's unsampled outer rows fall
// on background at every scale of the series down to smallestScale.
std::int32_t MarginFor(double smallestScale);

}  // namespace quillet
