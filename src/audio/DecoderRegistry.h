#pragma once

#include "audio/AudioFormat.h"

#include <optional>

namespace tamberlo {

// The first step of `format` that no element installed in the media backend (GStreamer)
// takes, as its automatic decoding would look for one: elements of rank "marginal" or above
// whose input matches. Nothing when every step has an element.
std::optional<DecodeStep> missingDecodeStep(const AudioFormat& format);

} // namespace tamberlo
