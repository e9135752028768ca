#pragma once

#include "audio/AudioPlayer.h"
#include "plan/Allocation.h"
#include "plan/Plan.h"

#include <QList>

namespace tamberlo::plan {

// The length of each message's file as the panel's player measures it: the file opened
// and held at its start exactly as the panel's "Open" does, then the player's length.
// A missing file, one the player cannot open, or one whose length it cannot tell, gets
// no length and a reason.
QList<MeasuredFile> measureFiles(const Plan& plan, AudioPlayer& player);
MeasuredFile measureFile(const QString& path, AudioPlayer& player);

} // namespace tamberlo::plan
