#include "quillet/sheet_data.h"

#include <cmath>
#include <cstring>

#include "files_internal.h"
#include "quillet/files.h"
#include "quillet/number_text.h"
#include "quillet/pipeline.h"

namespace quillet {
namespace {

// The shortest text that reads back as value, whatever the locale; whole values as integers.
std::string Number(double value) {
  if (value == 0.0) value = 0.0;  // no "-0"
  return ShortestText(value);
}

std::string Number(std::int64_t value) { return std::to_string(value); }

// A real as Godot writes it: always with a fraction (10.0).
std::string GodotReal(double value) {
  std::string text = Number(value);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

// A string between double quotes, with what JSON must escape escaped; Godot's text resources
// read the same escapes.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string FileNameOf(const char* path) {
  const char* last = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == PathSeparator()) last = p + 1;
  return last;
}

// The output's PNG name without its extension.
std::string StemOf(const char* outputName) {
  char name[kPathChars];
  OutputFileName(outputName, name, "png");
  std::string stem = name;
  if (EndsWithExtension(name, stem.size(), "png")) stem.resize(stem.size() - 4);
  return stem;
}

// The frames of each direction, in order, as (first index, last index).
std::vector<std::pair<std::size_t, std::size_t>> Runs(const SheetData& data) {
  std::vector<std::pair<std::size_t, std::size_t>> runs;
  for (std::size_t k = 0; k < data.frames.size(); ++k) {
    if (k == 0 || data.frames[k].direction != data.frames[k - 1].direction) runs.push_back({k, k});
    else runs.back().second = k;
  }
  return runs;
}

std::string Box(const char* a, std::int64_t x, const char* b, std::int64_t y, const char* c, std::int64_t w,
                const char* d, std::int64_t h) {
  std::string text = "{\"";
  text += a;
  text += "\":" + Number(x) + ",\"" + b + "\":" + Number(y);
  if (c) text += std::string(",\"") + c + "\":" + Number(w) + ",\"" + d + "\":" + Number(h);
  return text + "}";
}

std::string Point(double x, double y) { return "{\"x\":" + Number(x) + ",\"y\":" + Number(y) + "}"; }

bool NoteFrame(void* context, const SinkFrame& frame) {
  SheetData& data = *static_cast<SheetData*>(context);
  if (data.inner.frame && !data.inner.frame(data.inner.context, frame)) return false;
  if (!frame.sprite) return false;
  DataFrame noted;
  noted.canvasWidth = frame.canvasWidth;
  noted.canvasHeight = frame.canvasHeight;
  noted.pivotX = frame.pivotX;
  noted.pivotY = frame.pivotY;
  noted.direction = frame.direction;
  noted.directions = frame.directions;
  noted.angle = frame.angle;
  // The visible box on the canvas; a frame without a visible pixel keeps one (transparent)
  // pixel, as an atlas frame cannot be empty.
  std::int64_t left = frame.origin.first, top = frame.origin.second;
  std::int64_t w = frame.sprite->image.width, h = frame.sprite->image.height;
  if (w <= 0 || h <= 0) left = top = 0, w = h = 1;
  if (data.columns > 0) {
    char name[kFrameNameChars];
    FrameFileName(data.image.c_str(), frame.count, frame.index, name, "png");
    noted.name = FileNameOf(name);
    const SheetGrid grid = SheetGridOf(data.columns, frame);
    const auto [column, row] = grid.Place(frame.index);
    data.width = grid.across * frame.canvasWidth;
    data.height = grid.down * frame.canvasHeight;
    noted.x = column * frame.canvasWidth + left;
    noted.y = row * frame.canvasHeight + top;
    noted.w = w;
    noted.h = h;
    noted.left = left;
    noted.top = top;
  } else {
    noted.name = noted.file = FileNameOf(frame.fileName);
    noted.w = frame.canvasWidth;
    noted.h = frame.canvasHeight;
  }
  data.frames.push_back(std::move(noted));
  return true;
}

bool FinishInner(void* context, const char* fileName) {
  const SheetData& data = *static_cast<const SheetData*>(context);
  return !data.inner.finish || data.inner.finish(data.inner.context, fileName);
}

bool WriteData(void* context, const char* fileName) {
  const SheetData& data = *static_cast<const SheetData*>(context);
  const std::string name = DataFileName(fileName, data.format);
  const std::string text = data.format == DataFormat::kGodot ? GodotDataText(data) : JsonDataText(data);
  return WriteOutputFile(name.c_str(), text.data(), text.size());
}

}  // namespace

std::string AnimationName(const std::string& base, const DataFrame& first) {
  if (first.directions <= 1) return base;
  // Two decimals at most, without trailing zeros.
  double angle = std::round(first.angle * 100.0) / 100.0;
  if (angle == 0.0) angle = 0.0;
  std::string digits = FixedText(angle, 2);
  while (digits.back() == '0') digits.pop_back();
  if (digits.back() == '.') digits.pop_back();
  return base + "_" + digits;
}

std::string DataFileName(const char* outputName, DataFormat format) {
  return StemOf(outputName) + (format == DataFormat::kGodot ? ".tres" : ".json");
}

std::string JsonDataText(const SheetData& data) {
  const double duration = 1000.0 / data.fps;
  std::string text = "{\"frames\": {\n";
  for (std::size_t k = 0; k < data.frames.size(); ++k) {
    const DataFrame& f = data.frames[k];
    const bool trimmed = f.w != f.canvasWidth || f.h != f.canvasHeight;
    const std::string pivot = Point(f.pivotX / f.canvasWidth, f.pivotY / f.canvasHeight);
    text += "  " + Quoted(f.name) + ": {\"frame\": " + Box("x", f.x, "y", f.y, "w", f.w, "h", f.h) +
            ", \"rotated\": false, \"trimmed\": " + (trimmed ? "true" : "false") +
            ", \"spriteSourceSize\": " + Box("x", f.left, "y", f.top, "w", f.w, "h", f.h) +
            ", \"sourceSize\": " + Box("w", f.canvasWidth, "h", f.canvasHeight, nullptr, 0, nullptr, 0) +
            ", \"anchor\": " + pivot + ", \"pivot\": " + pivot + ", \"duration\": " + Number(duration) + "}" +
            (k + 1 < data.frames.size() ? ",\n" : "\n");
  }
  text += "},\n\"animations\": {\n";
  const auto runs = Runs(data);
  std::string tags;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    const auto [from, to] = runs[r];
    const std::string name = Quoted(AnimationName(data.base, data.frames[from]));
    text += "  " + name + ": [";
    for (std::size_t k = from; k <= to; ++k) text += (k > from ? ", " : "") + Quoted(data.frames[k].name);
    const char* end = r + 1 < runs.size() ? ",\n" : "\n";
    text += std::string("]") + end;
    tags += "    {\"name\": " + name + ", \"from\": " + Number(static_cast<std::int64_t>(from)) +
            ", \"to\": " + Number(static_cast<std::int64_t>(to)) + ", \"direction\": \"forward\"}" + end;
  }
  text += "},\n\"meta\": {\n  \"app\": \"quillet\",\n  \"version\": \"" PIXELTOOLS_VERSION "\",\n";
  if (!data.image.empty()) text += "  \"image\": " + Quoted(FileNameOf(data.image.c_str())) + ",\n";
  text += "  \"format\": \"RGBA8888\",\n";
  if (!data.image.empty())
    text += "  \"size\": " + Box("w", data.width, "h", data.height, nullptr, 0, nullptr, 0) + ",\n";
  text += "  \"scale\": \"1\",\n  \"frameTags\": [\n" + tags + "  ]\n}\n}\n";
  return text;
}

std::string GodotDataText(const SheetData& data) {
  const bool sheet = !data.image.empty();
  const std::size_t textures = sheet ? 1 : data.frames.size();
  const std::size_t atlases = sheet ? data.frames.size() : 0;
  std::string text = "[gd_resource type=\"SpriteFrames\" load_steps=" + std::to_string(textures + atlases + 1) +
                     " format=2]\n\n";
  for (std::size_t k = 0; k < textures; ++k) {
    const std::string file = sheet ? FileNameOf(data.image.c_str()) : data.frames[k].file;
    text += "[ext_resource path=" + Quoted(file) + " type=\"Texture\" id=" + std::to_string(k + 1) + "]\n";
  }
  for (std::size_t k = 0; k < atlases; ++k) {
    const DataFrame& f = data.frames[k];
    text += "\n[sub_resource type=\"AtlasTexture\" id=" + std::to_string(k + 1) + "]\natlas = ExtResource( 1 )\n";
    text += "region = Rect2( " + Number(f.x) + ", " + Number(f.y) + ", " + Number(f.w) + ", " + Number(f.h) + " )\n";
    text += "margin = Rect2( " + Number(f.left) + ", " + Number(f.top) + ", " + Number(f.canvasWidth - f.w) + ", " +
            Number(f.canvasHeight - f.h) + " )\n";
  }
  text += "\n[resource]\nanimations = [ ";
  const auto runs = Runs(data);
  for (std::size_t r = 0; r < runs.size(); ++r) {
    const auto [from, to] = runs[r];
    text += std::string(r > 0 ? ", " : "") + "{\n\"frames\": [ ";
    for (std::size_t k = from; k <= to; ++k)
      text += std::string(k > from ? ", " : "") + (sheet ? "SubResource( " : "ExtResource( ") +
              std::to_string(k + 1) + " )";
    text += " ],\n\"loop\": true,\n\"name\": " + Quoted(AnimationName(data.base, data.frames[from])) +
            ",\n\"speed\": " + GodotReal(data.fps) + "\n}";
  }
  return text + " ]\n";
}

FrameSink DataFileSink(SheetData& data, const FrameSink& inner, const RunParameters& run) {
  data = SheetData{};
  data.format = run.data;
  data.fps = run.fps;
  data.inner = inner;
  data.columns = inner.sheetColumns;
  const std::string stem = StemOf(run.outputName);
  data.base = FileNameOf(stem.c_str());
  char image[kPathChars];
  SinkOutputName(inner, run.outputName, image);
  if (data.columns > 0) data.image = image;
  FrameSink sink = inner;
  sink.frame = NoteFrame;
  sink.finish = FinishInner;
  sink.data = WriteData;
  sink.context = &data;
  return sink;
}

FrameSink JobSink(const RunParameters& run, BmpFileOptions& options, SheetSink& sheet, SheetData& data) {
  const FrameSink sink = SinkFor(run, options, sheet);
  if (run.format != OutputFormat::kPng || run.data == DataFormat::kNone) return sink;
  return DataFileSink(data, sink, run);
}

}  // namespace quillet
