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

// What an input's job claims its names through, once it knows them all: the batch's claims,
// then the folders they go in. When refused, verdict says why.
struct JobClaim {
  pixeltools::BatchClaims* claims = nullptr;
  std::size_t input = 0;
  std::string folder;
  pixeltools::BatchItem verdict;
  bool refused = false;
};

bool ClaimNames(void* context, const std::vector<std::string>& names) {
  JobClaim& claim = *static_cast<JobClaim*>(context);
  std::string reason;
  if (!pixeltools::ClaimOutputsInOrder(*claim.claims, claim.input, names, claim.verdict)) {
    claim.refused = true;
  } else if (!pixeltools::MakeFolders(claim.folder, reason)) {
    claim.refused = true;
    claim.verdict.outcome = pixeltools::BatchOutcome::kFailed;
    claim.verdict.lines = "quillet: \"" + claim.claims->inputPaths[claim.input] + "\": " + reason + "\n";
  }
  return !claim.refused;
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
  // Names known only once an input is read are claimed by its job, through the same claims.
  pixeltools::BatchClaims claims;
  const std::vector<pixeltools::BatchPlan> plans =
      pixeltools::PlanBatch("quillet", inputs, outputs, request.overwrite, claims);
  if (!NamesNeedInput(run))
    for (std::size_t k = 0; k < inputs.size(); ++k) pixeltools::SettleClaims(claims, k);

  const int threads = pixeltools::HardwareThreads("QUILLET_THREADS");
  const pixeltools::BatchCounts counts = pixeltools::RunBatch(
      static_cast<int>(inputs.size()), threads, request.quiet, [&](int k, int inside) {
        if (!plans[k].run) return plans[k].verdict;
        // However its job ends, the inputs after it no longer wait for its names.
        struct Settle {
          pixeltools::BatchClaims& claims;
          std::size_t input;
          ~Settle() { pixeltools::SettleClaims(claims, input); }
        } settle{claims, static_cast<std::size_t>(k)};
        pixeltools::BatchItem item;
        item.outcome = pixeltools::BatchOutcome::kFailed;
        try {
          // The folders of its outputs are made once they may be written.
          JobClaim claim{&claims, static_cast<std::size_t>(k), pixeltools::FolderOf(runs[k].outputName), {}, false};
          const std::unique_ptr<AppState> app = std::make_unique<AppState>();
          app->runParameters = runs[k];
          const JobResult job = RunOneShotJob(*app, importer, inside, OutputClaim{ClaimNames, &claim});
          if (job.outputsRefused) return claim.verdict;
          if (ReportJobResult(*app, job, &item.lines) == 0) item.outcome = pixeltools::BatchOutcome::kWritten;
        } catch (const std::bad_alloc&) {
          item.lines = "quillet: memory ran out while turning \"" + inputs[k].path + "\"\n";
        }
        return item;
      });
  return pixeltools::BatchExitStatus(counts);
}

}  // namespace quillet
