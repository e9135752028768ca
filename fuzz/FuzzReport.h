#pragma once

// How a libFuzzer entry reports an input that breaks a property: the property, then an abort,
// which libFuzzer records as a crash with the input beside it.
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tamberlo::fuzz {

inline int reportFailure(const std::string& failure) {
    if (!failure.empty()) {
        std::fprintf(stderr, "property does not hold: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}

} // namespace tamberlo::fuzz
