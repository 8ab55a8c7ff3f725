// A progress display that records what a job shows on it, for tests of what the job reports.
#pragma once

#include <string>
#include <vector>

#include "quillet/app_state.h"

namespace quillet::testing {

struct ProgressLog {
  std::vector<int> positions;
  std::vector<std::string> texts;
  ProgressDisplay display;
  ProgressLog() {
    display.context = this;
    display.setPosition = [](void* c, int p) { static_cast<ProgressLog*>(c)->positions.push_back(p); };
    display.setStatus = [](void* c, const char* t) { static_cast<ProgressLog*>(c)->texts.push_back(t); };
  }
  ProgressLog(const ProgressLog&) = delete;
  ProgressLog& operator=(const ProgressLog&) = delete;
};

}  // namespace quillet::testing
