#include "quillet/import.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "quillet/bitmap.h"
#include "quillet/files.h"
#include "quillet/sprite.h"

namespace quillet {
namespace {

thread_local ImagingFailure lastImagingFailure;

const ImportSetup& SetupOf(void* context) { return *static_cast<const ImportSetup*>(context); }

bool ImportThrough(void* context, AppState& app, const char* fileName) {
  const ImportSetup& setup = SetupOf(context);
  return ImportImage(app, *setup.imaging, setup.errors, fileName);
}

// The size from a BMP's headers, or from the library's reading of the header of another file.
bool InspectThrough(void* context, const char* fileName, InputReport& report) {
  const LoadOutcome bmp = InspectBitmapFile(fileName);
  report = ReportOf(bmp);
  if (bmp.failure == LoadFailure::kNone || bmp.failure == LoadFailure::kTooLarge) return true;
  const ImagingApi& imaging = *SetupOf(context).imaging;
  if (bmp.failure == LoadFailure::kUnreadable || !imaging.available || !imaging.imageSize) return false;
  std::uint64_t width = 0, height = 0;
  if (!imaging.imageSize(imaging.context, fileName, &width, &height)) return false;
  report = InputReport{};
  report.width = width > INT64_MAX ? INT64_MAX : static_cast<std::int64_t>(width);
  report.height = height > INT64_MAX ? INT64_MAX : static_cast<std::int64_t>(height);
  return true;
}

// The size the library reads from the file's header, when that is over the job's limit.
bool OverLimit(const ImagingApi& imaging, const char* fileName, InputReport& report) {
  std::uint64_t width = 0, height = 0;
  if (!imaging.imageSize || !imaging.imageSize(imaging.context, fileName, &width, &height)) return false;
  const std::int64_t w = width > INT64_MAX ? INT64_MAX : static_cast<std::int64_t>(width);
  const std::int64_t h = height > INT64_MAX ? INT64_MAX : static_cast<std::int64_t>(height);
  if (FitsEnlargement(w, h)) return false;
  report = InputReport{InputProblem::kTooLarge, 0, w, h};
  return true;
}

// The report and message of a file the library did not read: memory that ran out, or the
// library's reason.
void ReportLibraryFailure(const ImagingApi& imaging, const ErrorDisplay& errors, InputReport& report) {
  const ImagingFailure& failure = LastImagingFailure();
  report.problem = failure.problem == ImagingProblem::kOutOfMemory ? InputProblem::kOutOfMemory
                                                                   : InputProblem::kConversionFailed;
  std::snprintf(report.reason, sizeof report.reason, "%s", failure.reason);
  char text[kImportMessageChars];
  ConversionFailedText(imaging, failure, text);
  ShowError(errors, kErrorCaption, text);
}

// PNG frames from a file that is neither PNG nor BMP: its RGBA from the library, alpha kept.
// A BMP, a file that cannot be opened, and every file when the library cannot give RGBA are
// left to the import, which takes them as before.
bool ImportRgbaThrough(void* context, AppState&, const char* fileName, RgbaImage& rgba, InputReport& report) {
  const ImportSetup& setup = SetupOf(context);
  const ImagingApi& imaging = *setup.imaging;
  report = InputReport{};
  if (!imaging.available || !imaging.imageRgba || !fileName) return false;
  if (InspectBitmapFile(fileName).failure != LoadFailure::kNotBmp) return false;
  if (OverLimit(imaging, fileName, report)) return false;
  ClearImagingFailure();
  bool read = false;
  if (ImageHandle image = imaging.loadImage(imaging.context, fileName)) {
    read = imaging.imageRgba(imaging.context, image, rgba);
    imaging.disposeImage(imaging.context, image);
  }
  if (!read) ReportLibraryFailure(imaging, setup.errors, report);
  return read;
}

void ShowTemporaryFailure(const ErrorDisplay& errors) {
  char directory[kTempPathChars];
  DirectoryOf(LastOutputFailure().path, directory);
  char text[kTempPathChars + kFailureReasonChars + 64];
  std::snprintf(text, sizeof text, "cannot create a temporary file in %s: %s", directory, LastOutputFailure().reason);
  ShowError(errors, kErrorCaption, text);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

const ImagingFailure& LastImagingFailure() { return lastImagingFailure; }

void ClearImagingFailure() { lastImagingFailure = ImagingFailure{}; }

void NoteImagingFailure(ImagingProblem problem, const char* reason) {
  lastImagingFailure.problem = problem;
  std::snprintf(lastImagingFailure.reason, sizeof lastImagingFailure.reason, "%s", reason ? reason : "");
}

void LibraryMissingText(const ImagingApi& imaging, char (&text)[kImportMessageChars]) {
  const char* name = imaging.libraryName[0] ? imaging.libraryName : "the imaging library";
  const char* advice = "Try saving the image as a 24-bit BMP in some other program, and importing that.";
  if (imaging.unavailableReason[0]) {
    std::snprintf(text, sizeof text, "Image conversion failed because %s could not be loaded: %s.\n%s", name,
                  imaging.unavailableReason, advice);
  } else {
    std::snprintf(text, sizeof text, "Image conversion failed because %s could not be found.\n%s", name, advice);
  }
}

void ConversionFailedText(const ImagingApi& imaging, const ImagingFailure& failure,
                          char (&text)[kImportMessageChars]) {
  if (failure.problem == ImagingProblem::kOutOfMemory) {
    std::snprintf(text, sizeof text, "Image conversion failed: memory ran out%s%s.", failure.reason[0] ? ": " : "",
                  failure.reason);
    return;
  }
  const int used = std::snprintf(text, sizeof text, "Image conversion failed: not an image file that can be read%s%s.",
                                 failure.reason[0] ? ": " : "", failure.reason);
  char formats[kImagingTextChars] = "";
  if (imaging.available && imaging.listFormats) imaging.listFormats(imaging.context, formats);
  if (formats[0] && used > 0 && static_cast<std::size_t>(used) < sizeof text) {
    std::snprintf(text + used, sizeof text - static_cast<std::size_t>(used), "\n%s reads %s.",
                  imaging.libraryName[0] ? imaging.libraryName : "The imaging library", formats);
  }
}

void ShowError(const ErrorDisplay& errors, const char* caption, const char* text) {
  if (errors.show) {
    errors.show(errors.context, caption, text);
    return;
  }
  std::fprintf(stderr, "%s: %s\n", caption, text);
  std::fflush(stderr);
}

bool ImportImage(AppState& app, const ImagingApi& imaging, const ErrorDisplay& errors, const char* fileName) {
  WorkingBitmap& bitmap = app.workingBitmap;
  LoadOutcome outcome;
  LoadBitmapFile(fileName, bitmap, &outcome);
  app.importReport = ReportOf(outcome);
  if (HasImage24(bitmap)) return true;
  if (outcome.failure == LoadFailure::kNone) app.importReport.problem = InputProblem::kUnsupported;

  // A file that cannot be opened, or a BMP too large to take, is not handed to the library.
  if (!fileName || outcome.failure == LoadFailure::kTooLarge) return false;
  if (outcome.failure == LoadFailure::kUnreadable) {
    std::FILE* probe = std::fopen(fileName, "rb");
    if (!probe) return false;
    std::fclose(probe);
  }

  if (!imaging.available) {
    app.importReport.problem = InputProblem::kNoLibrary;
    char text[kImportMessageChars];
    LibraryMissingText(imaging, text);
    ShowError(errors, kErrorCaption, text);
    return false;
  }

  // The library decodes nothing whose header gives a size over the job's limit (a few hundred
  // bytes of PNG can hold a picture of gigabytes); the job's report names the size.
  if (OverLimit(imaging, fileName, app.importReport)) return false;

  // The job's temporary files; a call outside a job makes a directory of its own.
  JobTemporaries own;
  const JobTemporaries* temporaries = app.temporaries;
  if (!temporaries) {
    if (!CreateJobTemporaries(own)) {
      ShowTemporaryFailure(errors);
      return false;
    }
    temporaries = &own;
  }
  const char* tiffName = temporaries->importTiffName;
  const char* bmpName = temporaries->importBmpName;

  ClearOutputFailure();
  ClearImagingFailure();
  bool converted = false;
  bool bmpSaved = false;  // this call created bmpName
  if (ImageHandle image = imaging.loadImage(imaging.context, fileName)) {
    if (imaging.saveTiff24(imaging.context, image, tiffName)) {
      if (ImageHandle tiff = imaging.loadImage(imaging.context, tiffName)) {
        bmpSaved = imaging.saveBmp24(imaging.context, tiff, bmpName);
        if (bmpSaved) {
          LoadBitmapFile(bmpName, bitmap);
          converted = HasImage24(bitmap);
        }
        imaging.disposeImage(imaging.context, tiff);
        std::remove(tiffName);
      }
    }
    imaging.disposeImage(imaging.context, image);
    if (bmpSaved) std::remove(bmpName);
  }
  // A temporary file that could not be written is no fault of the image: the job says so.
  if (!converted && OutputFailed()) {
    if (!app.temporaries) ShowTemporaryFailure(errors);
    return false;
  }
  if (converted) {
    app.importReport = InputReport{};
    return true;
  }
  // A BMP keeps what its own loader found; any other file is one the library could not take.
  InputReport failed = app.importReport;
  ReportLibraryFailure(imaging, errors, failed);
  if (outcome.failure == LoadFailure::kNotBmp || failed.problem == InputProblem::kOutOfMemory) {
    app.importReport = failed;
  }
  return false;
}

bool CopyUnseekableInput(const char* inputName, InputCopy& copy, EnlargeResult& result) {
  copy.made = false;
  std::error_code error;
  if (!inputName || std::filesystem::status(inputName, error).type() != std::filesystem::file_type::fifo) return true;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(inputName, "rb"));
  if (!file) {
    result.input = InputReport{InputProblem::kUnreadable, errno, 0, 0};
    return false;
  }
  // Read to one byte past the limit, which then tells that the input is over it.
  std::vector<std::uint8_t> bytes;
  std::size_t used = 0;
  for (std::size_t chunk = std::size_t{1} << 16; used <= kMaxInputCopyBytes;
       chunk = std::min(2 * chunk, std::size_t{1} << 24)) {
    chunk = std::min(chunk, kMaxInputCopyBytes + 1 - used);
    bytes.resize(used + chunk);
    const std::size_t got = std::fread(bytes.data() + used, 1, chunk, file.get());
    used += got;
    if (got < chunk) break;
  }
  if (std::ferror(file.get())) {
    result.input = InputReport{InputProblem::kUnreadable, errno, 0, 0};
    return false;
  }
  if (used > kMaxInputCopyBytes) {
    result.input = InputReport{InputProblem::kFileTooLarge, 0, 0, 0};
    return false;
  }
  ClearOutputFailure();
  if (!CreateJobTemporaries(copy.temporaries) ||
      !WriteOutputFile(copy.temporaries.inputCopyName, bytes.data(), used, OutputMode::kCreateNew)) {
    result.temporaryFailed = true;
    DirectoryOf(LastOutputFailure().path, result.temporaryDirectory);
    std::snprintf(result.temporaryReason, sizeof result.temporaryReason, "%s", LastOutputFailure().reason);
    return false;
  }
  copy.made = true;
  return true;
}

ImageImporter ImporterFor(const ImportSetup& setup) {
  ImageImporter importer;
  importer.import = ImportThrough;
  importer.inspect = InspectThrough;
  importer.importRgba = ImportRgbaThrough;
  importer.context = const_cast<ImportSetup*>(&setup);
  return importer;
}

}  // namespace quillet
