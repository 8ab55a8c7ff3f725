// The two ways RunQuilletJob prepares the input and renders its frames.
#pragma once

#include <cstdint>

#include "quillet/job.h"

namespace quillet {

// Brings fileName into app.workingBitmap through importer, or the BMP loader when it has no
// import; app.importReport says why not. True when it then holds a 24-bit image.
bool ImportInput(const ImageImporter& importer, AppState& app, const char* fileName);

// The input's size from its header through importer, or the BMP loader; false when it cannot
// be told that way.
bool InspectInput(const ImageImporter& importer, const char* fileName, InputReport& report);

// Position 0 and the status text of a job's input, then of a frame about to be made.
void ShowProcessing(const JobProgress& progress, const char* inputName);
void ShowGenerating(const JobProgress& progress, const char* fileName, double angle, double scale);

// Records fileName as the first frame not made, for problem, with LastOutputFailure's reason.
void NoteFrameFailure(FramesResult& result, const char* fileName, FrameProblem problem);

// 24-bit frames: the job's temporary directory is made (app.temporaries points to it while the
// input is enlarged), the input is imported (a transparent one laid over the run's background)
// and enlarged through its "_temp.bmp" with reload, the directory is removed, then RunFrames.
// Nothing runs when the directory cannot be made.
JobResult RunEnlargedJob(AppState& app, const JobProgress& progress, const ImageImporter& importer,
                         const FrameSink& sink, int threads);

// RGBA frames: the input read with its transparency, turned through stand-in colours in
// memory, every frame placed on the series' canvas and handed to sink.
JobResult RunSpriteJob(AppState& app, const JobProgress& progress, const ImageImporter& importer,
                       const FrameSink& sink, int threads, std::uint64_t heldFrameBytes);

}  // namespace quillet
