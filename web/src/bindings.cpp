// The library's calls as the JavaScript module uses them: PNG bytes in, the files the programs
// would write out (names and PNG bytes), with the library's message on failure. The engine runs
// on the calling thread; progress goes to the module's onProgress.
//
// A turn into a sprite set or with a data file runs the engine's job as quillet -format png
// does, over the same command line options, writing into the module's in-memory file system;
// its files are read back in the order they were written and removed.
#include <emscripten.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "pixeltools.h"
#include "quillet/app_state.h"
#include "quillet/command_line.h"
#include "quillet/job.h"
#include "quillet/pipeline.h"
#include "quillet/sheet_data.h"
#include "quillet/sprite.h"
#include "quillet/sprite_job.h"

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


// The sprite's name in a set's job, as the job's messages give it.
constexpr char kSpriteName[] = "sprite";

quillet::RgbaImage SpriteOf(const pxt_image& image) {
  quillet::RgbaImage sprite =
      quillet::BlankImage(static_cast<std::int32_t>(image.width), static_cast<std::int32_t>(image.height));
  for (std::uint32_t y = 0; y < image.height; ++y) {
    const unsigned char* p = image.pixels + y * image.stride;
    for (std::uint32_t x = 0; x < image.width; ++x, p += 4)
      sprite.At(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)) = quillet::PackRgba(p[0], p[1], p[2], p[3]);
  }
  return sprite;
}

// The names of the files a sink wrote, in the order they were made.
struct Written {
  quillet::FrameSink inner;
  std::string dataName;
  std::vector<std::string> names;
  void Note(const char* name) {
    if (names.empty() || names.back() != name) names.emplace_back(name);
  }
};

bool WrittenFrame(void* context, const quillet::SinkFrame& frame) {
  auto& written = *static_cast<Written*>(context);
  if (!written.inner.frame(written.inner.context, frame)) return false;
  written.Note(frame.fileName);
  return true;
}

bool WrittenFinish(void* context, const char* fileName) {
  auto& written = *static_cast<Written*>(context);
  if (!written.inner.finish(written.inner.context, fileName)) return false;
  if (written.inner.sheetColumns > 0) written.Note(fileName);  // the sheet, written now
  return true;
}

bool WrittenData(void* context, const char* fileName) {
  auto& written = *static_cast<Written*>(context);
  if (!written.inner.data(written.inner.context, fileName)) return false;
  written.Note(written.dataName.c_str());
  return true;
}

quillet::FrameSink Recording(Written& written) {
  quillet::FrameSink sink = written.inner;
  sink.frame = WrittenFrame;
  if (written.inner.finish) sink.finish = WrittenFinish;
  if (written.inner.data) sink.data = WrittenData;
  sink.context = &written;
  return sink;
}

// The job's progress: its first status text starts the enlargement, each later one a frame of
// about `frames`.
struct SetProgress {
  int frames = 1;
  int texts = 0;
  static void Status(void* context, const char*) {
    auto& progress = *static_cast<SetProgress*>(context);
    const int k = ++progress.texts;
    pxtw_report_progress(k == 1 ? 5 : 10 + 85 * std::min(k - 2, progress.frames) / progress.frames);
  }
};

// The folder of the module's file system a set's job writes in; nothing else is there.
constexpr char kJobFolder[] = "/pxtw-job";

void RemoveTree(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return;
  if (S_ISDIR(info.st_mode)) {
    if (DIR* folder = opendir(path.c_str())) {
      std::vector<std::string> entries;
      while (const dirent* entry = readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
          entries.emplace_back(path + "/" + entry->d_name);
      }
      closedir(folder);
      for (const std::string& entry : entries) RemoveTree(entry);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

// The whole of a file of the job's folder into file; false (with the error in result) when not.
bool ReadBack(pxtw_result* result, const std::string& name) {
  OutputFile& file = result->files[static_cast<std::size_t>(result->count)];
  std::snprintf(file.name, sizeof file.name, "%s", name.c_str());
  pxt_error error{};
  error.code = PXT_ERROR_READ;
  FILE* in = std::fopen(name.c_str(), "rb");
  struct stat info {};
  if (!in || fstat(fileno(in), &info) != 0) {
    if (in) std::fclose(in);
    std::snprintf(error.message, sizeof error.message, "could not read back \"%s\"", name.c_str());
    Fail(result, error);
    return false;
  }
  const auto size = static_cast<std::size_t>(info.st_size);
  file.bytes = static_cast<unsigned char*>(std::malloc(size > 0 ? size : 1));
  const bool read = file.bytes && std::fread(file.bytes, 1, size, in) == size;
  std::fclose(in);
  if (!read) {
    std::snprintf(error.message, sizeof error.message, "could not read back \"%s\"", name.c_str());
    if (!file.bytes) error.code = PXT_ERROR_OUT_OF_MEMORY;
    Fail(result, error);
    return false;
  }
  file.size = size;
  ++result->count;
  return true;
}

pxtw_result* Refuse(pxtw_result* result, pxt_status status, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
pxtw_result* Refuse(pxtw_result* result, pxt_status status, const char* format, ...) {
  result->status = status;
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(result->message, sizeof result->message, format, arguments);
  va_end(arguments);
  return result;
}

// A job that did not make every file, in quillet's words for it.
pxtw_result* JobFailure(pxtw_result* result, const quillet::JobResult& job) {
  if (job.setRefused[0] != '\0') return Refuse(result, PXT_ERROR_ARGUMENT, "%s", job.setRefused);
  const quillet::EnlargeResult& enlarge = job.enlarge;
  if (enlarge.temporaryFailed)
    return Refuse(result, PXT_ERROR_TEMPORARY, "cannot create a temporary file in \"%s\": %s",
                  enlarge.temporaryDirectory, enlarge.temporaryReason);
  if (!enlarge.inputImported && enlarge.input.problem == quillet::InputProblem::kTooManyColours)
    return Refuse(result, PXT_ERROR_TOO_MANY_COLOURS,
                  "the sprite has too many colours to turn with its transparency: no 24-bit colour is left to "
                  "stand for each of its values");
  if (enlarge.outOfMemory || (!enlarge.inputImported && enlarge.input.problem == quillet::InputProblem::kOutOfMemory))
    return Refuse(result, PXT_ERROR_OUT_OF_MEMORY, "memory ran out while enlarging the sprite");
  if (!enlarge.inputImported || !enlarge.enlarged)
    return Refuse(result, PXT_ERROR_TOO_LARGE, "the picture of the sprite is too big to turn");
  const quillet::FramesResult& frames = job.frames;
  const char* colon = frames.failureReason[0] ? ": " : "";
  if (frames.dataFailed)
    return Refuse(result, PXT_ERROR_WRITE, "could not write \"%s\"%s%s (the frames were written)",
                  frames.firstFailedName, colon, frames.failureReason);
  switch (frames.firstProblem) {
    case quillet::FrameProblem::kTooLarge:
      return Refuse(result, PXT_ERROR_TOO_LARGE,
                    "the sheet would be %s%.0f x %.0f pixels, over the limit of %llu MiB of 4-byte pixels (\"%s\" "
                    "not written)",
                    frames.wantedAtLeast ? "at least " : "", frames.wantedWidth, frames.wantedHeight,
                    static_cast<unsigned long long>(quillet::kMaxPixelBlockBytes >> 20), frames.firstFailedName);
    case quillet::FrameProblem::kOutOfMemory:
      return Refuse(result, PXT_ERROR_OUT_OF_MEMORY, "memory ran out while rendering \"%s\"", frames.firstFailedName);
    default:
      return Refuse(result, PXT_ERROR_WRITE, "could not write \"%s\"%s%s (%d of %d frames written)",
                    frames.firstFailedName, colon, frames.failureReason, frames.framesWritten, frames.framesWanted);
  }
}

void NoteUnknown(void* context, const char*) { *static_cast<bool*>(context) = true; }

// The job of quillet's command line `arguments` (count of them, back to back, each ended by a
// NUL) on the sprite, in the job folder; the files it wrote, read back into result.
pxtw_result* RunSetJob(pxtw_result* result, const pxt_image& image, const char* arguments, int count) {
  std::vector<std::string> tokens;
  for (int k = 0; k < count; ++k) {
    tokens.emplace_back(arguments);
    arguments += tokens.back().size() + 1;
  }
  std::vector<char*> argv;
  for (std::string& token : tokens) argv.push_back(token.data());
  quillet::CommandLine line;
  line.arguments = argv.data();
  line.argumentCount = count;
  const auto app = std::make_unique<quillet::AppState>();
  quillet::RunParameters& run = app->runParameters;
  quillet::GivenValues given;
  bool unknown = false;
  quillet::UnknownArgumentReport report;
  report.report = NoteUnknown;
  report.context = &unknown;
  // The parse's message is on standard error, which the module passes on as the message.
  if (!quillet::ParseCommandLine(line, run, given, report)) return Refuse(result, PXT_ERROR_ARGUMENT, "%s", "");
  if (unknown) return Refuse(result, PXT_ERROR_ARGUMENT, "an option of the turn is not one quillet knows");
  std::snprintf(run.inputName, sizeof run.inputName, "%s", kSpriteName);

  std::int64_t frames = run.directions > 0 ? run.directions : std::max(run.frameCount, 1);
  if (run.cellWidth > 0 && run.cellHeight > 0)
    frames *= std::max<std::int64_t>(1, (image.width / run.cellWidth) * (image.height / run.cellHeight));
  SetProgress progress{static_cast<int>(std::min<std::int64_t>(frames, 1 << 30)), 0};
  quillet::JobProgress jobProgress;
  jobProgress.status = SetProgress::Status;
  jobProgress.context = &progress;

  quillet::MemorySprite input{SpriteOf(image), run.background, kSpriteName};
  const quillet::ImageImporter importer = quillet::MemorySpriteImporter(input);

  RemoveTree(kJobFolder);
  if (mkdir(kJobFolder, 0700) != 0 || chdir(kJobFolder) != 0)
    return Refuse(result, PXT_ERROR_WRITE, "could not make the folder \"%s\" to write in", kJobFolder);
  // The folders of an output name such as walk/hero, as the caller's own folders would be.
  const std::string outputName = run.outputName;
  if (!outputName.empty() && outputName[0] != '/') {
    for (std::size_t slash = outputName.find('/'); slash != std::string::npos; slash = outputName.find('/', slash + 1))
      mkdir(outputName.substr(0, slash).c_str(), 0700);
  }
  quillet::BmpFileOptions bmp;
  quillet::SheetSink sheet;
  quillet::SheetData data;
  Written written;
  written.inner = quillet::JobSink(run, bmp, sheet, data);
  if (written.inner.data) written.dataName = quillet::DataFileName(run.outputName, run.data);
  const quillet::FrameSink sink = Recording(written);
  quillet::JobResult job;
  bool outOfMemory = false;
  try {
    job = quillet::RunQuilletJob(*app, jobProgress, importer, sink, 1);
  } catch (const std::bad_alloc&) {
    outOfMemory = true;
  }
  if (outOfMemory) {
    Refuse(result, PXT_ERROR_OUT_OF_MEMORY, "memory ran out while turning the sprite");
  } else if (!job.Succeeded()) {
    JobFailure(result, job);
  } else if (MakeRoom(result, static_cast<int>(written.names.size()))) {
    for (const std::string& name : written.names) {
      if (!ReadBack(result, name)) break;
    }
  }
  if (chdir("/") == 0) RemoveTree(kJobFolder);
  return result;
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

// quillet -format png with the options of a sprite set or a data file: arguments holds count
// command line tokens (-out NAME, -format png and the options given), each ended by a NUL.
// The files come in the order the program writes them.
EMSCRIPTEN_KEEPALIVE pxtw_result* pxtw_turn_set(const unsigned char* png, std::size_t size, const char* arguments,
                                                int count) {
  pxtw_result* result = NewResult();
  if (!result) return nullptr;
  pxt_error error{};
  Image sprite;
  pxtw_report_progress(0);
  if (pxt_png_decode(png, size, nullptr, &sprite.image, &error) != PXT_OK) return Fail(result, error);
  RunSetJob(result, sprite.image, arguments, count);
  if (result->status == PXT_OK) pxtw_report_progress(100);
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
