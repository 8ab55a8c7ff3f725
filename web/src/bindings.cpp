// The library's calls as the JavaScript module uses them: PNG bytes in, the files the programs
// would write out (names and PNG bytes), with the library's message on failure. The engine runs
// on the calling thread; progress goes to the module's onProgress.
#include <emscripten.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "pixeltools.h"
#include "quillet/pipeline.h"

namespace {

struct OutputFile {
  char name[quillet::kFrameNameChars] = {};
  unsigned char* bytes = nullptr;
  std::size_t size = 0;
};

}  // namespace

// What one call gives back: a status, a message, and the files in the order they are written.
struct pxtw_result {
  pxt_status status = PXT_OK;
  char message[512] = {};
  std::unique_ptr<OutputFile[]> files;
  int room = 0;   // files allocated
  int count = 0;  // files made
};

EM_JS(void, pxtw_report_progress, (int percent), {
  if (Module["onProgress"]) Module["onProgress"](percent);
});

namespace {

pxtw_result* NewResult() { return new (std::nothrow) pxtw_result(); }

// Room for count files; false (with the error in result) when memory ran out.
bool MakeRoom(pxtw_result* result, int count) {
  result->files.reset(new (std::nothrow) OutputFile[static_cast<std::size_t>(count)]);
  if (!result->files) {
    result->status = PXT_ERROR_OUT_OF_MEMORY;
    std::snprintf(result->message, sizeof result->message, "%s", pxt_status_text(PXT_ERROR_OUT_OF_MEMORY));
    return false;
  }
  result->room = count;
  return true;
}

pxtw_result* Fail(pxtw_result* result, const pxt_error& error) {
  result->status = error.code;
  std::snprintf(result->message, sizeof result->message, "%s",
                error.message[0] ? error.message : pxt_status_text(error.code));
  return result;
}

// Adds image as a PNG file of that name; false (with the error in result) when it cannot be encoded.
bool AddFile(pxtw_result* result, const char* name, const pxt_image& image, pxt_png_encoding encoding) {
  OutputFile& file = result->files[static_cast<std::size_t>(result->count)];
  std::snprintf(file.name, sizeof file.name, "%s", name);
  pxt_error error{};
  if (pxt_png_encode(&image, encoding, &file.bytes, &file.size, &error) != PXT_OK) {
    Fail(result, error);
    return false;
  }
  ++result->count;
  return true;
}

struct Image {
  pxt_image image{};
  ~Image() { pxt_image_free(&image); }
};

struct TurnResult {
  pxt_turn_result result{};
  ~TurnResult() { pxt_turn_result_free(&result); }
};

void ReportTurn(void* context, int percent) {
  // The turn is nine tenths of the work, the frames' encoding the rest.
  (void)context;
  pxtw_report_progress(percent * 9 / 10);
}

}  // namespace

extern "C" {

// mostel: the 3x enlargement of the PNG bytes, encoded as mostel writes it.
EMSCRIPTEN_KEEPALIVE pxtw_result* pxtw_enlarge(const unsigned char* png, std::size_t size, const char* name) {
  pxtw_result* result = NewResult();
  if (!result) return nullptr;
  pxt_error error{};
  Image input, output;
  pxtw_report_progress(0);
  if (pxt_png_decode(png, size, nullptr, &input.image, &error) != PXT_OK) return Fail(result, error);
  if (pxt_mostel_enlarge(&input.image, 1, nullptr, &output.image, nullptr, &error) != PXT_OK)
    return Fail(result, error);
  pxt_image_free(&input.image);
  pxtw_report_progress(90);
  if (!MakeRoom(result, 1) || !AddFile(result, name, output.image, PXT_PNG_SMALLEST)) return result;
  pxtw_report_progress(100);
  return result;
}

// quillet -format png: the frames (or the sheet) of the turn, named as the program names its
// files for the output name out.
EMSCRIPTEN_KEEPALIVE pxtw_result* pxtw_turn(const unsigned char* png, std::size_t size, const char* out, double angle,
                                            double endAngle, double scale, double endScale, int frames,
                                            int sheetColumns) {
  pxtw_result* result = NewResult();
  if (!result) return nullptr;
  pxt_error error{};
  Image sprite;
  pxtw_report_progress(0);
  if (pxt_png_decode(png, size, nullptr, &sprite.image, &error) != PXT_OK) return Fail(result, error);
  pxt_turn_options options;
  pxt_turn_options_default(&options);
  options.angle = angle;
  options.end_angle = endAngle;
  options.scale = scale;
  options.end_scale = endScale;
  options.frames = frames;
  options.sheet_columns = sheetColumns;
  options.format = PXT_FRAMES_RGBA;
  options.threads = 1;
  pxt_progress progress{};
  progress.position = ReportTurn;
  TurnResult turned;
  if (pxt_quillet_turn(&sprite.image, &options, &progress, nullptr, &turned.result, &error) != PXT_OK)
    return Fail(result, error);
  pxt_image_free(&sprite.image);

  char name[quillet::kPathChars];
  quillet::OutputFileName(out, name, "png");
  const pxt_turn_result& r = turned.result;
  const bool oneFile = sheetColumns > 0 || r.frame_count < 2;
  if (!MakeRoom(result, oneFile ? 1 : static_cast<int>(r.frame_count))) return result;
  if (oneFile) {
    const pxt_image& image = sheetColumns > 0 ? r.sheet : r.frames[0];
    if (!AddFile(result, name, image, PXT_PNG_RGBA8)) return result;
  } else {
    const int count = static_cast<int>(r.frame_count);
    for (int k = 0; k < count; ++k) {
      char frameName[quillet::kFrameNameChars];
      quillet::FrameFileName(name, count, k, frameName, "png");
      if (!AddFile(result, frameName, r.frames[k], PXT_PNG_RGBA8)) return result;
      pxtw_report_progress(90 + 10 * (k + 1) / count);
    }
  }
  pxtw_report_progress(100);
  return result;
}

EMSCRIPTEN_KEEPALIVE int pxtw_status(const pxtw_result* r) { return r ? r->status : PXT_ERROR_OUT_OF_MEMORY; }
EMSCRIPTEN_KEEPALIVE const char* pxtw_message(const pxtw_result* r) {
  return r ? r->message : pxt_status_text(PXT_ERROR_OUT_OF_MEMORY);
}
EMSCRIPTEN_KEEPALIVE int pxtw_file_count(const pxtw_result* r) { return r->count; }
EMSCRIPTEN_KEEPALIVE const char* pxtw_file_name(const pxtw_result* r, int k) { return r->files[k].name; }
EMSCRIPTEN_KEEPALIVE const unsigned char* pxtw_file_bytes(const pxtw_result* r, int k) { return r->files[k].bytes; }
EMSCRIPTEN_KEEPALIVE std::size_t pxtw_file_size(const pxtw_result* r, int k) { return r->files[k].size; }

EMSCRIPTEN_KEEPALIVE void pxtw_result_free(pxtw_result* r) {
  if (!r) return;
  for (int k = 0; k < r->count; ++k) pxt_free(r->files[k].bytes);
  delete r;
}

}  // extern "C"
