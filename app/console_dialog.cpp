#include "app/console_dialog.h"

namespace qor {

void ConsoleDialog::runClosed() {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    // Under the lock: once the waiter sees the flag it may destroy the
    // dialog, which must not happen while this call still uses it.
    m_closedChanged.notify_all();
}

bool ConsoleDialog::waitForRunClosed(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_closedChanged.wait_for(lock, timeout, [this] { return m_closed; });
}

}  // namespace qor
