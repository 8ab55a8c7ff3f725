#include "quillet/app_state.h"

namespace quillet {

AppState& TheAppState() {
  static AppState state;
  return state;
}

void ReportProgress(const AppState& app, int position) {
  const ProgressDisplay* display = app.progressWindow.load(std::memory_order_acquire);
  if (display && display->setPosition) display->setPosition(display->context, position);
}

void ShowStatus(const AppState& app, const char* text) {
  const ProgressDisplay* display = app.progressWindow.load(std::memory_order_acquire);
  if (display && display->setStatus) display->setStatus(display->context, text);
}

}  // namespace quillet
