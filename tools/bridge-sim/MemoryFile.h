#pragma once

#include "ChipModel.h"
#include "DeviceModels.h"

#include <string>
#include <string_view>
#include <vector>

namespace tamberlo::bridgesim {

// The chip's message memory as a text file, so that the messages outlive the simulator:
//
//   tamberlo-bridge-sim memory 1
//   model ISD1760
//   rows 0x010 0x023 eom
//   rows 0x024 0x02f eom
//
// One `rows FIRST LAST [eom]` line per run of recorded rows, in ascending order without
// overlaps; `eom` marks an EOM marker on the run's last row. A run without it is a
// message cut off before its end (the simulator stopped while it was being recorded) or
// the part of a message left by SET_ERASE.
std::string formatMemoryFile(const ChipModel& chip);

// Reads a memory file written for `model`. On failure returns false and says why in
// `error` ("line 3: rows out of order"); `runs` is then unspecified.
bool parseMemoryFile(std::string_view text, const DeviceModel& model,
                     std::vector<ChipModel::RecordedRun>& runs, std::string& error);

} // namespace tamberlo::bridgesim
