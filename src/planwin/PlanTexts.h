#pragma once

#include "plan/Export.h"
#include "plan/PlanRun.h"

#include <QString>

namespace tamberlo::planwin {

// The plan window's words for what the plan and its runs report (in the window's
// translation context).

// The memory in use under the bar: "ISD1730：已用 97 / 240 行 (12.1 s / 30.0 s)，5 段", with
// the rows missing when the plan does not fit.
QString usageText(const plan::Layout& layout, int missingRows);
// A recording's end as the status line says it (`resumeFrom`: the message "continue from
// here" resumes at, or 0).
QString recordedText(const plan::ProgramOutcome& outcome, int resumeFrom);
// A map scan compared with the plan: the counts and the starts beyond the plan.
QString checksText(const plan::ChipComparison& chip);
// The file name suffix and the dialog's filter of an export format.
QString exportSuffix(plan::ExportFormat format);
QString exportFilter(plan::ExportFormat format);

} // namespace tamberlo::planwin
