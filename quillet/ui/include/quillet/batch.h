// quillet over many files in one process: -outdir DIR -- INPUT... turns each input as the
// job of a complete command line with the same options would, its outputs named after it
// under DIR, the folders of the inputs mirrored there.
#pragma once

#include <string>
#include <vector>

#include "quillet/app_state.h"
#include "quillet/pipeline.h"

namespace quillet {

struct BatchRequest {
  const char* outdir = nullptr;
  bool overwrite = false;  // outputs that exist are replaced; else their input is skipped
  bool quiet = false;      // no progress display
  std::vector<const char*> inputs;  // files and folders, in the order given
};

// Whether a file found below a folder is an image to turn, by its name's ending.
bool TakesImageName(const std::string& name);

// Turns every input of the request with the parameters of run (its names aside) on all cores,
// a file to a worker, and returns the batch's status (pixeltools/batch.h). The batch never
// asks anything; the import's messages are left to each input's one line.
int RunBatchJobs(const RunParameters& run, const BatchRequest& request, const ImageImporter& importer);

}  // namespace quillet
