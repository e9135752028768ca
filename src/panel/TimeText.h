#pragma once

#include <QString>
#include <cstdint>

namespace tamberlo {

// Milliseconds as "minutes:seconds:hundredths" without leading zeros, e.g. "1:5:43" for
// 65,432 ms. The minutes are not limited to 59. Every division truncates toward zero, so
// a negative value gives negative parts ("-1:-5:-43") rather than a wrong or crashing
// result.
QString DipPlayPosit(std::int32_t lgPositData);

} // namespace tamberlo
