#include "quillet/batch.h"

#include <cstring>
#include <memory>
#include <new>

#include "pixeltools/batch.h"
#include "pixeltools/parallel.h"
#include "quillet/job_loop.h"

namespace quillet {
namespace {

// Copies name into field; false when it does not fit with its terminator.
bool SetName(const std::string& name, char (&field)[kPathChars]) {
  if (name.size() >= static_cast<std::size_t>(kPathChars)) return false;
  std::memcpy(field, name.c_str(), name.size() + 1);
  return true;
}

std::string TooLong(const char* what, const std::string& name) {
  return std::string("not done: ") + what + " \"" + name + "\" has " + std::to_string(name.size()) +
         " characters; at most " + std::to_string(kPathChars - 1) + " fit";
}

}  // namespace

bool TakesImageName(const std::string& name) {
  return pixeltools::HasEnding(name, {"png", "bmp", "gif", "jpg", "jpeg", "tga", "tif", "tiff"});
}

int RunBatchJobs(const RunParameters& run, const BatchRequest& request, const ImageImporter& importer) {
  std::vector<pixeltools::BatchInput> inputs =
      pixeltools::CollectBatchInputs(std::vector<std::string>(request.inputs.begin(), request.inputs.end()),
                                     TakesImageName, request.outdir);
  // The walk is over before anything is written, so no output is taken for an input.
  std::vector<RunParameters> runs(inputs.size(), run);
  std::vector<std::vector<std::string>> outputs(inputs.size());
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    pixeltools::BatchInput& input = inputs[k];
    if (!input.problem.empty()) continue;
    const std::string output = pixeltools::JoinPath(request.outdir, input.relative);
    if (!SetName(input.path, runs[k].inputName)) {
      input.problem = TooLong("its name", input.path);
    } else if (!SetName(output, runs[k].outputName) || output.size() + 16 >= kFrameNameChars) {
      input.problem = TooLong("the output's name", output);
    } else {
      outputs[k] = JobOutputNames(runs[k]);
    }
  }
  const std::vector<pixeltools::BatchPlan> plans = pixeltools::PlanBatch("quillet", inputs, outputs, request.overwrite);

  const int threads = pixeltools::HardwareThreads("QUILLET_THREADS");
  const pixeltools::BatchCounts counts = pixeltools::RunBatch(
      static_cast<int>(inputs.size()), threads, request.quiet, [&](int k, int inside) {
        if (!plans[k].run) return plans[k].verdict;
        pixeltools::BatchItem item;
        item.outcome = pixeltools::BatchOutcome::kFailed;
        std::string reason;
        if (!pixeltools::MakeFolders(pixeltools::FolderOf(runs[k].outputName), reason)) {
          item.lines = "quillet: \"" + inputs[k].path + "\": " + reason + "\n";
          return item;
        }
        try {
          const std::unique_ptr<AppState> app = std::make_unique<AppState>();
          app->runParameters = runs[k];
          const JobResult job = RunOneShotJob(*app, importer, inside);
          if (ReportJobResult(*app, job, &item.lines) == 0) item.outcome = pixeltools::BatchOutcome::kWritten;
        } catch (const std::bad_alloc&) {
          item.lines = "quillet: memory ran out while turning \"" + inputs[k].path + "\"\n";
        }
        return item;
      });
  return pixeltools::BatchExitStatus(counts);
}

}  // namespace quillet
