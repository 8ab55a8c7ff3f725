#include "test_images.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <iterator>

#include "quillet/enlarge.h"

namespace quillet::testing {

Picture Plain(std::int32_t width, std::int32_t height, std::uint32_t colour) {
  return {width, height, std::vector<std::uint32_t>(static_cast<std::size_t>(width * height), colour)};
}

namespace {

// A small repeatable generator of 32-bit values, seeded.
auto XorShift(std::uint32_t seed) {
  return [state = seed * 2654435761u + 1]() mutable {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
}

}  // namespace

Picture SpriteLike(std::int32_t width, std::int32_t height, int colours, std::uint32_t seed) {
  std::vector<std::uint32_t> palette;
  auto next = XorShift(seed);
  for (int k = 0; k < colours; ++k) palette.push_back(next() & 0xFFFFFF);
  Picture p = Plain(width, height, palette[0]);
  // Blobs of colour on a background of palette[0], as in a sprite.
  for (int blob = 0; blob < width * height / 12; ++blob) {
    const std::int32_t cx = static_cast<std::int32_t>(next() % width);
    const std::int32_t cy = static_cast<std::int32_t>(next() % height);
    const std::int32_t radius = static_cast<std::int32_t>(next() % 4);
    const std::uint32_t colour = palette[next() % palette.size()];
    for (std::int32_t y = cy - radius; y <= cy + radius; ++y)
      for (std::int32_t x = cx - radius; x <= cx + radius; ++x)
        if (x >= 0 && y >= 0 && x < width && y < height && (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius)
          p.At(x, y) = colour;
  }
  return p;
}

Picture DenseSheet(std::int32_t width, std::int32_t height, int colours, std::uint32_t seed) {
  auto next = XorShift(seed);
  std::vector<std::uint32_t> palette;
  for (int k = 0; k < colours; ++k) palette.push_back(next() & 0xFFFFFF);
  auto pick = [&] { return palette[next() % palette.size()]; };
  Picture p = Plain(width, height, 0);
  for (std::int32_t top = 0; top < height;) {
    const std::int32_t rowHeight = 6 + static_cast<std::int32_t>(next() % 8);
    for (std::int32_t left = 0; left < width;) {
      const std::int32_t cellWidth = 6 + static_cast<std::int32_t>(next() % 8);
      const bool dithered = next() % 2 == 0;
      const std::uint32_t outline = pick(), body = pick(), shade = pick(), light = pick(), detail = pick();
      const std::int32_t band = 2 + static_cast<std::int32_t>(next() % 3);
      for (std::int32_t y = top; y < top + rowHeight && y < height; ++y)
        for (std::int32_t x = left; x < left + cellWidth && x < width; ++x) {
          const std::int32_t dx = x - left, dy = y - top;
          std::uint32_t c = body;
          if (dx == 0 || dy == 0 || dx == cellWidth - 1 || dy == rowHeight - 1)
            c = outline;
          else if (dy >= rowHeight - 1 - band)
            c = shade;
          else if (dy == 1 || dx == 1)
            c = light;
          else if (dithered && (dx + dy) % 2 == 0)
            c = shade;
          p.At(x, y) = c;
        }
      for (int dot = 0; dot < 4; ++dot) {
        const std::int32_t x = left + 2 + static_cast<std::int32_t>(next() % static_cast<std::uint32_t>(cellWidth - 4));
        const std::int32_t y = top + 2 + static_cast<std::int32_t>(next() % static_cast<std::uint32_t>(rowHeight - 4));
        if (x < width && y < height) p.At(x, y) = detail;
      }
      left += cellWidth;
    }
    top += rowHeight;
  }
  return p;
}

Picture Replicate(const Picture& picture, int factor) {
  Picture out = Plain(picture.width * factor, picture.height * factor, 0);
  for (std::int32_t y = 0; y < out.height; ++y)
    for (std::int32_t x = 0; x < out.width; ++x) out.At(x, y) = picture.At(x / factor, y / factor);
  return out;
}

std::vector<std::uint8_t> OpaqueRgbaBytes(const Picture& picture) {
  std::vector<std::uint8_t> rgba;
  rgba.reserve(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 4);
  for (std::int32_t y = picture.height - 1; y >= 0; --y)
    for (std::int32_t x = 0; x < picture.width; ++x) {
      const std::uint32_t c = picture.At(x, y);
      rgba.insert(rgba.end(), {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                               static_cast<std::uint8_t>(c), 255});
    }
  return rgba;
}

void SetPicture(WorkingBitmap& bitmap, const Picture& picture) {
  std::vector<std::uint8_t> file = Bmp24File(picture);
  LoadBitmapBytes(file.data(), file.size(), bitmap);
}

namespace {
Picture PictureOfBytes(const std::uint8_t* header, const std::uint8_t* pixels) {
  Picture p = Plain(HeaderWidth(header), HeaderHeight(header), 0);
  const std::int64_t stride = Stride24(p.width);
  for (std::int32_t y = 0; y < p.height; ++y)
    for (std::int32_t x = 0; x < p.width; ++x) p.At(x, y) = PackColour(pixels + y * stride + 3 * x);
  return p;
}
}  // namespace

Picture PictureOf(const OutputBitmap& bitmap) { return PictureOfBytes(bitmap.header.get(), bitmap.pixels); }
Picture PictureOf(const WorkingBitmap& bitmap) {
  return PictureOfBytes(bitmap.header.get(), bitmap.pixels.data());
}

void EnlargeInPlace(WorkingBitmap& bitmap, int steps) {
  for (int k = 0; k < steps; ++k) {
    OutputBitmap out = CreateOutputBitmap(bitmap, 2 * HeaderWidth(bitmap.header.get()),
                                          2 * HeaderHeight(bitmap.header.get()));
    EnlargeInto(bitmap, out);
    SetPicture(bitmap, PictureOf(out));
  }
}

std::vector<std::uint8_t> Bmp24File(const Picture& picture, const BmpLayout& layout) {
  const std::int64_t stride = Stride24(picture.width);
  const std::size_t pixelStart = kFileHeaderBytes + layout.infoBytes;
  std::vector<std::uint8_t> file(pixelStart + static_cast<std::size_t>(stride * picture.height), 0);
  std::uint8_t* h = file.data() + kFileHeaderBytes;
  WriteLe32(h, layout.infoBytes);
  if (layout.infoBytes == 12) {
    WriteLe16(h + 4, static_cast<std::uint16_t>(picture.width));
    WriteLe16(h + 6, static_cast<std::uint16_t>(picture.height));
    WriteLe16(h + 8, 1);
    WriteLe16(h + 10, 24);
  } else {
    WriteLe32(h + 4, static_cast<std::uint32_t>(picture.width));
    WriteLe32(h + 8, static_cast<std::uint32_t>(layout.topDown ? -picture.height : picture.height));
    WriteLe16(h + 12, 1);
    WriteLe16(h + 14, 24);
    WriteLe32(h + 20, static_cast<std::uint32_t>(stride * picture.height));
    WriteLe32(h + 24, 2835);
    WriteLe32(h + 28, 2835);
  }
  for (std::int32_t y = 0; y < picture.height; ++y) {
    const std::int32_t fileRow = layout.topDown ? picture.height - 1 - y : y;
    std::uint8_t* row = file.data() + pixelStart + fileRow * stride;
    for (std::int32_t x = 0; x < picture.width; ++x) {
      const std::uint32_t c = picture.At(x, y);
      row[3 * x] = static_cast<std::uint8_t>(c);
      row[3 * x + 1] = static_cast<std::uint8_t>(c >> 8);
      row[3 * x + 2] = static_cast<std::uint8_t>(c >> 16);
    }
  }
  if (layout.omitLastPadding) file.resize(file.size() - static_cast<std::size_t>(stride - 3 * picture.width));
  file[0] = 'B';
  file[1] = 'M';
  WriteLe32(file.data() + 2, static_cast<std::uint32_t>(file.size()));
  WriteLe32(file.data() + 10, static_cast<std::uint32_t>(pixelStart));
  return file;
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string MakeTempDir() {
  std::random_device random;
  for (;;) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("quillet_test_" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(dir, error)) return dir.string();
    if (error) return std::string();
  }
}

bool EnterProcessScratchDir() {
  struct Holder {
    std::string path;
    ~Holder() {
      std::error_code ignored;
      if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
  };
  static Holder directory;
  if (!directory.path.empty()) return false;
  directory.path = MakeTempDir();
  std::error_code error;
  if (directory.path.empty()) std::perror("scratch directory");
  else std::filesystem::current_path(directory.path, error);
  if (error) std::fprintf(stderr, "scratch directory: %s\n", error.message().c_str());
  return true;
}

}  // namespace quillet::testing
