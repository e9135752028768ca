#include "panel/TimeText.h"

namespace tamberlo {

QString DipPlayPosit(std::int32_t lgPositData) {
    // C++ integer division truncates toward zero, and no step can overflow: the divisors
    // are positive constants and std::int32_t's minimum divided by them is in range.
    const std::int32_t minutes = lgPositData / 60000;
    const std::int32_t rest = lgPositData % 60000;
    const std::int32_t seconds = rest / 1000;
    const std::int32_t hundredths = (rest % 1000) / 10;
    return QStringLiteral("%1:%2:%3").arg(minutes).arg(seconds).arg(hundredths);
}

} // namespace tamberlo
