#include "app/flash/dialog.h"

#include "text/catalogue.h"
#include "ui/resource_ids.h"

namespace qor {

void ConsoleDialog::failed(int /*device*/, Situation situation, std::string_view text) {
    // The thread tells which device failed: the handshake's failure, on the
    // user-interface thread, is the command's own.
    m_board.messageBox(m_services.currentDevice(), text, kErrorBoxType,
                       m_services.takeOpenFailure(), situationCode(situation));
}

void ConsoleDialog::runClosing(int /*devices*/, bool allSucceeded) {
    if (allSucceeded) {
        m_board.messageBox(
            m_services.currentDevice(),
            formatText(Situation::UpdatesSucceeded, m_state.UiLanguage, kTextCapacity),
            kSuccessBoxType, m_services.takeOpenFailure(),
            situationCode(Situation::UpdatesSucceeded));
    }
}

void ConsoleDialog::runClosed() {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    // Under the lock: once the waiter sees the flag it may destroy the
    // dialog, which must not happen while this call still uses it.
    m_closedChanged.notify_all();
    m_interrupt.wake();
}

bool ConsoleDialog::waitForRunClosed(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_closedChanged.wait_for(lock, timeout, [this] { return m_closed; });
}

}  // namespace qor
