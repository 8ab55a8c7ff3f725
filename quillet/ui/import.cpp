#include "quillet/import.h"

#include <atomic>
#include <cstdio>

#include "quillet/bitmap.h"

namespace quillet {
namespace {

std::atomic<const ErrorDisplay*> installedErrorDisplay{nullptr};

bool ImportThrough(void* context, AppState& app, const char* fileName) {
  return ImportImage(app, *static_cast<const ImagingApi*>(context), fileName);
}

}  // namespace

void SetErrorDisplay(const ErrorDisplay* display) { installedErrorDisplay.store(display); }

void ShowError(const char* caption, const char* text) {
  const ErrorDisplay* display = installedErrorDisplay.load();
  if (display && display->show) {
    display->show(display->context, caption, text);
    return;
  }
  std::fprintf(stderr, "%s: %s\n", caption, text);
  std::fflush(stderr);
}

bool ImportImage(AppState& app, const ImagingApi& imaging, const char* fileName) {
  WorkingBitmap& bitmap = app.workingBitmap;
  LoadBitmapFile(fileName, bitmap);
  if (HasImage24(bitmap)) return true;

  if (!fileName) return false;
  std::FILE* probe = std::fopen(fileName, "rb");
  if (!probe) return false;
  std::fclose(probe);

  if (!imaging.available) {
    ShowError(kErrorCaption, kLibraryMissingText);
    return false;
  }

  bool converted = false;
  if (ImageHandle image = imaging.loadImage(fileName)) {
    if (imaging.saveTiff24(image, kImportTiffName)) {
      if (ImageHandle tiff = imaging.loadImage(kImportTiffName)) {
        if (imaging.saveBmp24(tiff, kImportBmpName)) {
          LoadBitmapFile(kImportBmpName, bitmap);
          converted = HasImage24(bitmap);
        }
        imaging.disposeImage(tiff);
        std::remove(kImportTiffName);
      }
    }
    imaging.disposeImage(image);
    std::remove(kImportBmpName);
  }
  if (!converted) ShowError(kErrorCaption, kConversionFailedText);
  return converted;
}

ImageImporter ImporterFor(const ImagingApi& imaging) {
  ImageImporter importer;
  importer.import = ImportThrough;
  importer.context = const_cast<ImagingApi*>(&imaging);
  return importer;
}

}  // namespace quillet
