// libFuzzer entry for telling an audio file's format from its bytes; the checks are in
// AudioFormatTarget.h, which the property test in tests/reliability runs too.
#include "AudioFormatTarget.h"
#include "FuzzReport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return tamberlo::fuzz::reportFailure(tamberlo::fuzz::checkAudioFormatInput(data, size));
}
