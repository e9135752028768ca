// libFuzzer entry for the reply receiver and the chip layer's reply actions; the checks
// are in ReceiverTarget.h, which the property test in tests/reliability runs too.
#include "FuzzEntry.h"
#include "ReceiverTarget.h"

namespace {
tamberlo::fuzz::Rig* rig = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    rig = tamberlo::fuzz::startFuzzing("fuzz_receiver");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return tamberlo::fuzz::reportFailure(tamberlo::fuzz::checkReceiverInput(*rig, data, size));
}
