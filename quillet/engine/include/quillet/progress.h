// How a job tells where it is: a position and status texts for a display, and a question
// asked between frames and steps whether to stop. Any callback may be null.
#pragma once

namespace quillet {

struct JobProgress {
  void (*position)(void* context, int position) = nullptr;  // 0 to 100
  void (*status)(void* context, const char* text) = nullptr;  // a NUL-terminated line or two
  bool (*cancel)(void* context) = nullptr;                    // true: stop the job now
  void* context = nullptr;
};

inline void ReportProgress(const JobProgress& progress, int position) {
  if (progress.position) progress.position(progress.context, position);
}

inline void ShowStatus(const JobProgress& progress, const char* text) {
  if (progress.status) progress.status(progress.context, text);
}

inline bool CancelRequested(const JobProgress& progress) {
  return progress.cancel && progress.cancel(progress.context);
}

}  // namespace quillet
