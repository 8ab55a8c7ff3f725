#include "quillet/import.h"

#include <cstdint>
#include <cstdio>

#include "quillet/bitmap.h"
#include "quillet/files.h"

namespace quillet {
namespace {

bool ImportThrough(void* context, AppState& app, const char* fileName) {
  const ImportSetup& setup = *static_cast<const ImportSetup*>(context);
  return ImportImage(app, *setup.imaging, setup.errors, fileName);
}

// The size from a BMP's headers, or from the library's reading of the header of another file.
bool InspectThrough(void* context, const char* fileName, InputReport& report) {
  const LoadOutcome bmp = InspectBitmapFile(fileName);
  report = ReportOf(bmp);
  if (bmp.failure == LoadFailure::kNone || bmp.failure == LoadFailure::kTooLarge) return true;
  const ImagingApi& imaging = *static_cast<const ImportSetup*>(context)->imaging;
  if (bmp.failure == LoadFailure::kUnreadable || !imaging.available || !imaging.imageSize) return false;
  std::uint64_t width = 0, height = 0;
  if (!imaging.imageSize(imaging.context, fileName, &width, &height)) return false;
  report = InputReport{};
  report.width = width > INT64_MAX ? INT64_MAX : static_cast<std::int64_t>(width);
  report.height = height > INT64_MAX ? INT64_MAX : static_cast<std::int64_t>(height);
  return true;
}

void ShowTemporaryFailure(const ErrorDisplay& errors) {
  char directory[kTempPathChars];
  DirectoryOf(LastOutputFailure().path, directory);
  char text[kTempPathChars + kFailureReasonChars + 64];
  std::snprintf(text, sizeof text, "cannot create a temporary file in %s: %s", directory, LastOutputFailure().reason);
  ShowError(errors, kErrorCaption, text);
}

}  // namespace

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
    ShowError(errors, kErrorCaption, kLibraryMissingText);
    return false;
  }

  // The library decodes nothing whose header gives a size over the job's limit (a few hundred
  // bytes of PNG can hold a picture of gigabytes); the job's report names the size.
  std::uint64_t width = 0, height = 0;
  if (imaging.imageSize && imaging.imageSize(imaging.context, fileName, &width, &height)) {
    const std::int64_t w = width > INT64_MAX ? INT64_MAX : static_cast<std::int64_t>(width);
    const std::int64_t h = height > INT64_MAX ? INT64_MAX : static_cast<std::int64_t>(height);
    if (!FitsEnlargement(w, h)) {
      app.importReport = InputReport{InputProblem::kTooLarge, 0, w, h};
      return false;
    }
  }

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
  } else {
    // A BMP keeps what its own loader found; any other file is one the library could not take.
    if (outcome.failure == LoadFailure::kNotBmp) app.importReport.problem = InputProblem::kConversionFailed;
    ShowError(errors, kErrorCaption, kConversionFailedText);
  }
  return converted;
}

ImageImporter ImporterFor(const ImportSetup& setup) {
  ImageImporter importer;
  importer.import = ImportThrough;
  importer.inspect = InspectThrough;
  importer.context = const_cast<ImportSetup*>(&setup);
  return importer;
}

}  // namespace quillet
