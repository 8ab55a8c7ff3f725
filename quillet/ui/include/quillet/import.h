// Bringing any image file into the working bitmap as a 24-bit bitmap: 24-bit BMP files
// directly, everything else converted by the imaging library through "temp24.tif" and
// "temp24.bmp" in the job's temporary directory.
#pragma once

#include <cstddef>

#include "quillet/app_state.h"
#include "quillet/files.h"
#include "quillet/imaging.h"
#include "quillet/pipeline.h"

namespace quillet {

inline constexpr char kErrorCaption[] = "Error";

// Room for one of the import's messages.
inline constexpr std::size_t kImportMessageChars = 768;

// The message when the library is needed and missing: "Image conversion failed because <its
// name> could not be found." (or "could not be loaded: <the loader's reason>."), then the
// advice to import a 24-bit BMP, which needs no library.
void LibraryMissingText(const ImagingApi& imaging, char (&text)[kImportMessageChars]);

// The message when the library did not read the file: "Image conversion failed: not an
// image file that can be read: <the library's reason>." and the common formats it reads; or
// that memory ran out.
void ConversionFailedText(const ImagingApi& imaging, const ImagingFailure& failure,
                          char (&text)[kImportMessageChars]);

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

// A job's input that is not a regular file (a pipe) can be read only once: it is read whole,
// within kMaxInputCopyBytes, into a private temporary copy that the job reads instead. The
// copy and its directory go with this record.
inline constexpr std::size_t kMaxInputCopyBytes = std::size_t{256} << 20;
struct InputCopy {
  JobTemporaries temporaries;
  bool made = false;  // temporaries.inputCopyName holds the input
};

// Copies inputName when it is not a regular file; true when the job can go on (with the copy
// when copy.made). False, with result saying why, when it could not be read or copied.
bool CopyUnseekableInput(const char* inputName, InputCopy& copy, EnlargeResult& result);

// What the job's importer works through.
struct ImportSetup {
  const ImagingApi* imaging = nullptr;
  ErrorDisplay errors;  // the "Error" messages; without a show function, standard error
};

// The job's importer: ImportImage through setup, which must outlive the importer. For PNG
// frames it gives a file that is neither PNG nor BMP with its transparency, when the library
// can.
ImageImporter ImporterFor(const ImportSetup& setup);

}  // namespace quillet
