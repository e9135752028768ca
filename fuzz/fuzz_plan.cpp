// libFuzzer entry for the plan file reader; the checks are in PlanTarget.h, which the
// property test in tests/reliability runs too. The reader needs no application object.
#include "FuzzReport.h"
#include "PlanTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return tamberlo::fuzz::reportFailure(tamberlo::fuzz::checkPlanInput(data, size));
}
