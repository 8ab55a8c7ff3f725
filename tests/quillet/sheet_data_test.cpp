// The data files beside a sheet or frames, as text: a sprite set of two directions laid out on
// a sheet that wraps, and frames one to a file; and the sheet's layout rule.
#include "quillet/sheet_data.h"

#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "quillet/number_text.h"

namespace quillet {
namespace {

struct Frame {
  std::int32_t w, h;      // visible box
  std::int64_t ox, oy;    // its place on the canvas
  double angle, px, py;   // pivot on the canvas
};

// Hands the frames to a data sink over an inner sink that keeps nothing, as a job would.
SheetData Noted(const std::vector<Frame>& frames, int cells, int directions, int columns, const char* out,
                DataFormat format, double fps) {
  RunParameters run;
  std::snprintf(run.outputName, sizeof run.outputName, "%s", out);
  run.format = OutputFormat::kPng;
  run.data = format;
  run.fps = fps;
  run.frameCount = static_cast<std::int32_t>(frames.size());
  FrameSink inner;
  inner.extension = "png";
  inner.rgba = true;
  inner.sheetColumns = columns;
  SheetData data;
  const FrameSink sink = DataFileSink(data, inner, run);
  for (std::size_t k = 0; k < frames.size(); ++k) {
    SpriteFrame sprite;
    sprite.image = BlankImage(frames[k].w, frames[k].h);
    char name[kFrameNameChars];
    SinkFileName(sink, run, static_cast<int>(k), name);
    SinkFrame frame;
    frame.index = static_cast<int>(k);
    frame.count = static_cast<int>(frames.size());
    frame.fileName = name;
    frame.sprite = &sprite;
    frame.canvasWidth = 8;
    frame.canvasHeight = 6;
    frame.origin = {frames[k].ox, frames[k].oy};
    frame.cells = cells;
    frame.directions = directions;
    const bool isSet = static_cast<std::size_t>(cells) * directions == frames.size();
    frame.cell = isSet ? static_cast<int>(k) % cells : 0;
    frame.direction = isSet ? static_cast<int>(k) / cells : 0;
    frame.angle = frames[k].angle;
    frame.pivotX = frames[k].px;
    frame.pivotY = frames[k].py;
    EXPECT_TRUE(sink.frame(sink.context, frame));
  }
  return data;
}

TEST(SheetData, SetOnAWrappingSheetAndFramesOneToAFile) {
  // Two directions of three cells, two columns: each direction takes two rows. The third cell
  // has no visible pixel, the fourth fills its canvas.
  const std::vector<Frame> set = {{4, 3, 2, 1, 0, 4, 3},   {5, 2, 1, 2, 0, 4, 3},   {0, 0, 0, 0, 0, 4, 3},
                                  {8, 6, 0, 0, 22.5, 3, 2}, {3, 3, 4, 2, 22.5, 3, 2}, {2, 1, 6, 5, 22.5, 3, 2}};
  const SheetData sheet = Noted(set, 3, 2, 2, "out/walk", DataFormat::kJson, 12);
  EXPECT_EQ(JsonDataText(sheet), R"({"frames": {
  "walk_1.png": {"frame": {"x":2,"y":1,"w":4,"h":3}, "rotated": false, "trimmed": true, "spriteSourceSize": {"x":2,"y":1,"w":4,"h":3}, "sourceSize": {"w":8,"h":6}, "anchor": {"x":0.5,"y":0.5}, "pivot": {"x":0.5,"y":0.5}, "duration": 83.33333333333333},
  "walk_2.png": {"frame": {"x":9,"y":2,"w":5,"h":2}, "rotated": false, "trimmed": true, "spriteSourceSize": {"x":1,"y":2,"w":5,"h":2}, "sourceSize": {"w":8,"h":6}, "anchor": {"x":0.5,"y":0.5}, "pivot": {"x":0.5,"y":0.5}, "duration": 83.33333333333333},
  "walk_3.png": {"frame": {"x":0,"y":6,"w":1,"h":1}, "rotated": false, "trimmed": true, "spriteSourceSize": {"x":0,"y":0,"w":1,"h":1}, "sourceSize": {"w":8,"h":6}, "anchor": {"x":0.5,"y":0.5}, "pivot": {"x":0.5,"y":0.5}, "duration": 83.33333333333333},
  "walk_4.png": {"frame": {"x":0,"y":12,"w":8,"h":6}, "rotated": false, "trimmed": false, "spriteSourceSize": {"x":0,"y":0,"w":8,"h":6}, "sourceSize": {"w":8,"h":6}, "anchor": {"x":0.375,"y":0.3333333333333333}, "pivot": {"x":0.375,"y":0.3333333333333333}, "duration": 83.33333333333333},
  "walk_5.png": {"frame": {"x":12,"y":14,"w":3,"h":3}, "rotated": false, "trimmed": true, "spriteSourceSize": {"x":4,"y":2,"w":3,"h":3}, "sourceSize": {"w":8,"h":6}, "anchor": {"x":0.375,"y":0.3333333333333333}, "pivot": {"x":0.375,"y":0.3333333333333333}, "duration": 83.33333333333333},
  "walk_6.png": {"frame": {"x":6,"y":23,"w":2,"h":1}, "rotated": false, "trimmed": true, "spriteSourceSize": {"x":6,"y":5,"w":2,"h":1}, "sourceSize": {"w":8,"h":6}, "anchor": {"x":0.375,"y":0.3333333333333333}, "pivot": {"x":0.375,"y":0.3333333333333333}, "duration": 83.33333333333333}
},
"animations": {
  "walk_0": ["walk_1.png", "walk_2.png", "walk_3.png"],
  "walk_22.5": ["walk_4.png", "walk_5.png", "walk_6.png"]
},
"meta": {
  "app": "quillet",
  "version": ")" PIXELTOOLS_VERSION R"(",
  "image": "walk.png",
  "format": "RGBA8888",
  "size": {"w":16,"h":24},
  "scale": "1",
  "frameTags": [
    {"name": "walk_0", "from": 0, "to": 2, "direction": "forward"},
    {"name": "walk_22.5", "from": 3, "to": 5, "direction": "forward"}
  ]
}
}
)");
  EXPECT_EQ(GodotDataText(Noted({set[0], set[3]}, 1, 2, 4, "walk.png", DataFormat::kGodot, 12)),
            R"([gd_resource type="SpriteFrames" load_steps=4 format=2]

[ext_resource path="walk.png" type="Texture" id=1]

[sub_resource type="AtlasTexture" id=1]
atlas = ExtResource( 1 )
region = Rect2( 2, 1, 4, 3 )
margin = Rect2( 2, 1, 4, 3 )

[sub_resource type="AtlasTexture" id=2]
atlas = ExtResource( 1 )
region = Rect2( 0, 6, 8, 6 )
margin = Rect2( 0, 0, 0, 0 )

[resource]
animations = [ {
"frames": [ SubResource( 1 ) ],
"loop": true,
"name": "walk_0",
"speed": 12.0
}, {
"frames": [ SubResource( 2 ) ],
"loop": true,
"name": "walk_22.5",
"speed": 12.0
} ]
)");

  // Frames one to a file: each the whole file, named by it; the name's quote escaped.
  const SheetData files = Noted({set[0], set[1]}, 1, 1, 0, "a\"b", DataFormat::kJson, 10);
  EXPECT_EQ(JsonDataText(files), R"({"frames": {
  "a\"b_1.png": {"frame": {"x":0,"y":0,"w":8,"h":6}, "rotated": false, "trimmed": false, "spriteSourceSize": {"x":0,"y":0,"w":8,"h":6}, "sourceSize": {"w":8,"h":6}, "anchor": {"x":0.5,"y":0.5}, "pivot": {"x":0.5,"y":0.5}, "duration": 100},
  "a\"b_2.png": {"frame": {"x":0,"y":0,"w":8,"h":6}, "rotated": false, "trimmed": false, "spriteSourceSize": {"x":0,"y":0,"w":8,"h":6}, "sourceSize": {"w":8,"h":6}, "anchor": {"x":0.5,"y":0.5}, "pivot": {"x":0.5,"y":0.5}, "duration": 100}
},
"animations": {
  "a\"b": ["a\"b_1.png", "a\"b_2.png"]
},
"meta": {
  "app": "quillet",
  "version": ")" PIXELTOOLS_VERSION R"(",
  "format": "RGBA8888",
  "scale": "1",
  "frameTags": [
    {"name": "a\"b", "from": 0, "to": 1, "direction": "forward"}
  ]
}
}
)");
  EXPECT_EQ(GodotDataText(files), R"([gd_resource type="SpriteFrames" load_steps=3 format=2]

[ext_resource path="a\"b_1.png" type="Texture" id=1]
[ext_resource path="a\"b_2.png" type="Texture" id=2]

[resource]
animations = [ {
"frames": [ ExtResource( 1 ), ExtResource( 2 ) ],
"loop": true,
"name": "a\"b",
"speed": 10.0
} ]
)");
  EXPECT_EQ(DataFileName("out/walk", DataFormat::kJson), "out/walk.json");
  EXPECT_EQ(DataFileName("walk.PNG", DataFormat::kGodot), "walk.tres");
}

TEST(SheetData, AnimationsAreNamedByTheirAngleToTwoDecimals) {
  const std::vector<std::pair<double, std::string>> angles = {
      {0, "w_0"}, {-0.001, "w_0"}, {45, "w_45"}, {22.5, "w_22.5"}, {0.125, "w_0.13"}, {-90.1, "w_-90.1"}, {359.999, "w_360"}};
  for (const auto& [angle, name] : angles) {
    DataFrame first;
    first.directions = 8;
    first.angle = angle;
    EXPECT_EQ(AnimationName("w", first), name) << angle;
  }
  DataFrame plain;
  plain.angle = 45;
  EXPECT_EQ(AnimationName("w", plain), "w");
}

TEST(SheetLayout, SetsStartARowPerDirectionAndSeriesRunOn) {
  struct Case {
    int count, cells, directions, columns;
    std::int64_t across, down;
    std::vector<std::pair<std::int64_t, std::int64_t>> places;
  };
  const std::vector<Case> cases = {
      {5, 1, 1, 3, 3, 2, {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}}},           // a series: rows of 3
      {2, 1, 1, 8, 2, 1, {{0, 0}, {1, 0}}},                                    // fewer frames than columns
      {6, 3, 2, 2, 2, 4, {{0, 0}, {1, 0}, {0, 1}, {0, 2}, {1, 2}, {0, 3}}},   // cells wrap inside a direction
      {4, 2, 2, 5, 2, 2, {{0, 0}, {1, 0}, {0, 1}, {1, 1}}},                   // one row per direction
      {3, 1, 3, 4, 1, 3, {{0, 0}, {0, 1}, {0, 2}}},                           // directions of one cell
  };
  for (const Case& c : cases) {
    SinkFrame frame;
    frame.count = c.count;
    frame.cells = c.cells;
    frame.directions = c.directions;
    const SheetGrid grid = SheetGridOf(c.columns, frame);
    EXPECT_EQ(grid.across, c.across) << c.count << " " << c.cells;
    EXPECT_EQ(grid.down, c.down) << c.count << " " << c.cells;
    for (int k = 0; k < c.count; ++k)
      EXPECT_EQ(grid.Place(k), c.places[static_cast<std::size_t>(k)]) << c.count << " " << c.cells << " frame " << k;
  }
}

// The data files' numbers are written by the engine's own formatter, which every build has:
// the same text as the C++ library's shortest form where that exists, for the values data files
// hold (pivots, durations, boxes, angles) and for doubles of every size.
TEST(NumberText, IsTheShortestFormOfTheCxxLibrary) {
  std::vector<double> values = {0.0,    -0.0,  1.0,    -1.0,    0.5,    12.5,    100.0,  1e21, 1e22,   123456.0,
                                1e-7,   1e-5,  0.001,  1.0 / 3, 2.0 / 3, 83.33333333333333, 1000.0 / 7,
                                16.66666, 5e-324, 1.7976931348623157e308, 2.2250738585072014e-308, 9007199254740993.0};
  std::mt19937_64 random(7);
  for (int k = 0; k < 20000; ++k) {
    std::uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (std::isfinite(value)) values.push_back(value);
    values.push_back(static_cast<double>(random() % 200000) / 64.0 - 1000.0);  // pivots, boxes
    values.push_back(1000.0 / static_cast<double>(1 + random() % 1000));        // durations
  }
  for (const double value : values) {
    char text[64];
    const std::string expected(text, std::to_chars(text, text + sizeof text, value).ptr);
    ASSERT_EQ(ShortestText(value), expected) << value;
  }
  EXPECT_EQ(FixedText(22.5, 2), "22.50");
  EXPECT_EQ(FixedText(-0.125, 2), "-0.12");
  // A decimal comma of the locale is not written.
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
    EXPECT_EQ(ShortestText(12.5), "12.5");
    EXPECT_EQ(FixedText(12.5, 2), "12.50");
    std::setlocale(LC_NUMERIC, "C");
  }
}

}  // namespace
}  // namespace quillet
