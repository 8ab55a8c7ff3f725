// Bringing any image file into the working bitmap as a 24-bit bitmap: 24-bit BMP files
// directly, everything else converted by the imaging library through "temp24.tif" and
// "temp24.bmp" in the job's temporary directory.
#pragma once

#include "quillet/app_state.h"
#include "quillet/imaging.h"
#include "quillet/pipeline.h"

namespace quillet {

inline constexpr char kErrorCaption[] = "Error";
inline constexpr char kLibraryMissingText[] =
    "Image conversion failed because gdiplus.dll could not be found.\n"
    "Try saving the image as a 24-bit BMP in some other program, and importing that.";
inline constexpr char kConversionFailedText[] =
    "Image conversion failed.\n"
    "Try saving the image as a 24-bit BMP in some other program, and importing that.";

// The front end's way of showing an error: caption and text, returning once shown.
struct ErrorDisplay {
  void (*show)(void* context, const char* caption, const char* text) = nullptr;
  void* context = nullptr;
};

// Shows caption and text through errors, or writes them to standard error when it has no
// show function.
void ShowError(const ErrorDisplay& errors, const char* caption, const char* text);

// Loads fileName into app.workingBitmap, converting it through imaging unless it is a
// 24-bit BMP; true when the working bitmap then holds a 24-bit image. A file that cannot
// be opened fails without a message; every other failure shows one through errors, but
// for a temporary file that could not be written during a job, which the job reports. The
// temporary files are those of app.temporaries, or of a directory made for this call outside
// a job. "temp24.bmp" is deleted whenever this call wrote it, "temp24.tif" once its reload
// worked; each only after the image read from or written to it was released.
bool ImportImage(AppState& app, const ImagingApi& imaging, const ErrorDisplay& errors, const char* fileName);

// What the job's importer works through.
struct ImportSetup {
  const ImagingApi* imaging = nullptr;
  ErrorDisplay errors;  // the "Error" messages; without a show function, standard error
};

// The job's importer: ImportImage through setup, which must outlive the importer.
ImageImporter ImporterFor(const ImportSetup& setup);

}  // namespace quillet
