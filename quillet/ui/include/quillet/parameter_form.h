// The parameter form shown before a job: the five values of RunParameters as texts, the
// rule that enables the two end fields, and the reading back of the texts.
#pragma once

#include "quillet/app_state.h"
#include "quillet/dialog_ids.h"

namespace quillet {

inline constexpr char kParameterDialogTitle[] = QUILLET_PARAMETER_TITLE;

// Fields in tab order.
enum ParameterField { kAngleField, kScaleField, kFramesField, kEndAngleField, kEndScaleField, kParameterFieldCount };

struct ParameterFieldInfo {
  int controlId;  // the edit box of the Windows dialog resource
  const char* label;
};

inline constexpr ParameterFieldInfo kParameterFields[kParameterFieldCount] = {
    {QUILLET_ANGLE_BOX, "Rotation Angle (Degrees Counter-Clockwise)"},
    {QUILLET_SCALE_BOX, "Scaling (Factor)"},
    {QUILLET_FRAMES_BOX, "Number of Frames to Export"},
    {QUILLET_END_ANGLE_BOX, "Final Angle"},
    {QUILLET_END_SCALE_BOX, "Final Scale"},
};

// Room for any double in fixed notation with six decimals ("%f" of 1e308 has 316 characters).
inline constexpr int kParameterTextChars = 320;

struct ParameterTexts {
  char field[kParameterFieldCount][kParameterTextChars] = {};
};

// Reals in fixed notation with six decimals (45 shows as 45.000000), the frame count as an integer.
ParameterTexts FormatParameters(const RunParameters& run);

// The end fields are enabled while the frame-count text reads above 1; text that does not
// read counts as 1.
bool EndFieldsEnabled(const char* frameCountText);

// Reads each field into its value in tab order, disabled ones included; a text that does
// not read leaves its value.
void StoreParameters(const ParameterTexts& texts, RunParameters& run);

}  // namespace quillet
