/* Identifiers and captions of quillet's Windows dialogs and of their controls, read by the resource
   script (quillet.rc), the dialog code and the tests. Plain macros, since the resource
   compiler reads only those. The two dialogs number their controls independently: 1006
   and 1007 stand for different controls in each. */
#pragma once

#define QUILLET_PARAMETER_DIALOG 129
#define QUILLET_PARAMETER_TITLE "Choose Parameters"
#define QUILLET_ANGLE_BOX 1003
#define QUILLET_FRAMES_BOX 1004
#define QUILLET_END_ANGLE_BOX 1005
#define QUILLET_SCALE_BOX 1006
#define QUILLET_END_SCALE_BOX 1007

#define QUILLET_PROGRESS_DIALOG 130
#define QUILLET_PROGRESS_TITLE "quillet - Progress"
#define QUILLET_CANCEL_BUTTON 1006
#define QUILLET_PROGRESS_BAR 1007
#define QUILLET_STATUS_TEXT 1009
