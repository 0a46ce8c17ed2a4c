#include "tests/ui/memory_dialog_host.h"

#include <thread>

#include "ui/dialog_template.h"
#include "ui/resource_ids.h"

namespace qor::testing {

MemoryDialogHost::MemoryDialogHost(AppState& state, Services& services,
                                   std::filesystem::path runLog)
    : m_ownDialog(std::make_unique<CQorDlg>(state, services, std::move(runLog))),
      m_dialog(m_ownDialog.get()) {}

MemoryDialogHost::~MemoryDialogHost() {
    // Workers still running would use the dialog; let a failed test end
    // them before the window goes.
    if (m_window) {
        m_window->releaseAllBoxes();
        waitForRunClosed(std::chrono::seconds(60));
        m_window->invoke([this] { m_dialog->dispatch({DialogEvent::Destroy}); });
    }
}

void MemoryDialogHost::layOut() {
    const DialogTemplate& dialogTemplate = mainDialogTemplate();
    for (const ControlTemplate& control : dialogTemplate.controls) {
        if (control.text != nullptr) {
            m_window->setItemText(control.id, control.text);
        }
        m_window->enableItem(control.id, (control.style & control_style::kDisabled) == 0);
        m_window->showItem(control.id, (control.style & control_style::kVisible) != 0);
        if (control.bitmapId != 0) {
            m_window->setPicture(control.id, control.bitmapId);
        }
    }
}

void MemoryDialogHost::open(int dpi) {
    m_window = std::make_unique<MemoryWindow>();
    m_window->setDpi(dpi);
    layOut();
    m_dialog->attach(*m_window);
    m_window->invoke([this] { m_dialog->dispatch({DialogEvent::InitDialog}); });
}

int MemoryDialogHost::runModal(CQorDlg& dialog) {
    m_dialog = &dialog;
    open();
    while (!m_closed) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 1;
}

void MemoryDialogHost::deliver(const DialogMessage& message) {
    if (message.event == DialogEvent::Clicked &&
        (message.id == IDC_RADIO_USB || message.id == IDC_RADIO_RS232)) {
        if (!m_window->isEnabled(message.id)) {
            return;  // a disabled button takes no clicks
        }
        m_window->checkRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232, message.id);
    }
    if (message.event == DialogEvent::Clicked && !m_window->isEnabled(message.id)) {
        return;
    }
    m_dialog->dispatch(message);
}

void MemoryDialogHost::click(int id) {
    m_window->invoke([this, id] { deliver({DialogEvent::Clicked, id}); });
}

void MemoryDialogHost::clickLater(int id) {
    m_window->post([this, id] { deliver({DialogEvent::Clicked, id}); });
}

void MemoryDialogHost::tick() {
    for (const auto& [id, period] : m_window->runningTimers()) {
        m_window->invoke([this, timerId = id] { deliver({DialogEvent::Timer, timerId}); });
    }
}

bool MemoryDialogHost::close() {
    bool accepted = false;
    m_window->invoke([&] {
        m_dialog->dispatch({DialogEvent::Close});
        accepted = m_dialog->ended();
    });
    if (accepted) {
        m_closed = true;
    }
    return accepted;
}

bool MemoryDialogHost::waitForRunClosed(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!m_dialog->canClose()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace qor::testing
