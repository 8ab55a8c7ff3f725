// The two ways RunQuilletJob prepares the input and renders its frames.
#pragma once

#include <cstdint>

#include "quillet/job.h"

namespace quillet {

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
