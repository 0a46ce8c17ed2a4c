#include "base/manual_clock.h"

namespace qor {

void ManualClock::sleep_ms(uint32_t ms) {
    m_now.fetch_add(ms);
    m_slept.fetch_add(ms);
    m_sleeps.fetch_add(1);
}

}  // namespace qor
