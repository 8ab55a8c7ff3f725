#include "quillet/app_state.h"

namespace quillet {

AppState& TheAppState() {
  static AppState state;
  return state;
}

namespace {

const ProgressDisplay* DisplayOf(void* context) {
  return static_cast<const AppState*>(context)->progressWindow.load(std::memory_order_acquire);
}

}  // namespace

JobProgress ProgressOf(const AppState& app) {
  JobProgress progress;
  progress.context = const_cast<AppState*>(&app);
  progress.position = [](void* context, int position) {
    const ProgressDisplay* display = DisplayOf(context);
    if (display && display->setPosition) display->setPosition(display->context, position);
  };
  progress.status = [](void* context, const char* text) {
    const ProgressDisplay* display = DisplayOf(context);
    if (display && display->setStatus) display->setStatus(display->context, text);
  };
  return progress;
}

}  // namespace quillet
