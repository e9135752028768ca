// libFuzzer entry for the hex text codec and the range handlers' length rule; the checks
// are in StrToHexTarget.h, which the property test in tests/reliability runs too.
#include "FuzzEntry.h"
#include "StrToHexTarget.h"

namespace {
tamberlo::fuzz::Rig* rig = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    rig = tamberlo::fuzz::startFuzzing("fuzz_strtohex");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return tamberlo::fuzz::reportFailure(tamberlo::fuzz::checkStrToHexInput(*rig, data, size));
}
