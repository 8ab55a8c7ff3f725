#include "quillet/parameter_form.h"

#include <cstdio>

#include "quillet/command_line.h"

namespace quillet {

ParameterTexts FormatParameters(const RunParameters& run) {
  ParameterTexts texts;
  std::snprintf(texts.field[kAngleField], kParameterTextChars, "%f", run.angle);
  std::snprintf(texts.field[kScaleField], kParameterTextChars, "%f", run.scale);
  std::snprintf(texts.field[kFramesField], kParameterTextChars, "%d", static_cast<int>(run.frameCount));
  std::snprintf(texts.field[kEndAngleField], kParameterTextChars, "%f", run.endAngle);
  std::snprintf(texts.field[kEndScaleField], kParameterTextChars, "%f", run.endScale);
  return texts;
}

bool EndFieldsEnabled(const char* frameCountText) {
  std::int32_t frames = 1;
  ReadCount(frameCountText, frames);
  return frames > 1;
}

void StoreParameters(const ParameterTexts& texts, RunParameters& run) {
  ReadReal(texts.field[kAngleField], run.angle);
  ReadReal(texts.field[kScaleField], run.scale);
  ReadCount(texts.field[kFramesField], run.frameCount);
  ReadReal(texts.field[kEndAngleField], run.endAngle);
  ReadReal(texts.field[kEndScaleField], run.endScale);
}

}  // namespace quillet
