#include "tests/support/test_dialog.h"

#include "text/catalogue.h"
#include "text/ui_language.h"
#include "ui/device_row.h"
#include "ui/resource_ids.h"

namespace qor::testing {

namespace {

constexpr int kPortListSize = 20;

}  // namespace

TestDialog::TestDialog(Services* services) : m_externalServices(services) {
    m_state.UiLanguage = kUiLanguageEnglish;
    m_window.invoke([this] {
        for (int port = 1; port <= kPortListSize; ++port) {
            m_window.addComboString(IDC_COMBO_PORT, "COM" + std::to_string(port));
        }
        m_window.setComboSelection(IDC_COMBO_PORT, 0);
        m_window.showItem(IDC_STEP1, false);
        m_window.showItem(IDC_STEP2, false);
        selectMode(IDC_RADIO_RS232);

        createDeviceRowControls(m_window, m_state.UiLanguage);
    });
}

void TestDialog::selectMode(int radioId) {
    m_window.invoke([this, radioId] {
        m_window.checkRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232, radioId);
        enterMode(radioId);
    });
}

void TestDialog::enterSelectedMode() {
    const bool onUi = m_window.isUiThread();
    int radio = 0;
    m_window.invoke([this, &radio] {
        radio = m_window.checkedRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232);
        enterMode(radio == IDC_RADIO_RS232 ? IDC_RADIO_RS232 : IDC_RADIO_USB);
    });
    std::lock_guard lock(m_mutex);
    m_modeEntries.push_back({radio, onUi});
}

void TestDialog::runClosed() {
    // The closing worker's last touch of the dialog: a test that waits for
    // it may take the dialog down as soon as it sees it.
    std::lock_guard lock(m_mutex);
    ++m_runsClosed;
    m_closed.notify_all();
}

void TestDialog::enterMode(int radioId) {
    const bool usb = radioId == IDC_RADIO_USB;
    const int picture = usb ? IDB_BARCODE : IDB_LOGO;
    m_state.PictureBitmap.store(picture);
    m_window.setPicture(IDC_PICTURE, picture);
    m_window.enableItem(IDC_COMBO_PORT, !usb);
    m_window.enableItem(IDC_UPDATE, !usb);
    m_window.setItemText(IDC_UPDATE,
                         formatText(usb ? Situation::BrowseCaption : Situation::ConnectCaption,
                                    m_state.UiLanguage, kTextCapacity));
    m_window.killTimer(kPollTimerId);
    if (usb) {
        m_window.setTimer(kPollTimerId, kPollPeriodMs);
    }
}

std::vector<TestDialog::ModeEntry> TestDialog::modeEntries() const {
    std::lock_guard lock(m_mutex);
    return m_modeEntries;
}

int TestDialog::runsClosed() const {
    std::lock_guard lock(m_mutex);
    return m_runsClosed;
}

bool TestDialog::waitForRunsClosed(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_closed.wait_for(lock, timeout, [&] { return m_runsClosed >= count; });
}

bool TestDialog::usbModeSelected() {
    return m_window.checkedRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232) == IDC_RADIO_USB;
}

std::string TestDialog::selectedComPort() {
    const int selection = m_window.comboSelection(IDC_COMBO_PORT);
    return selection < 0 ? std::string() : "COM" + std::to_string(selection + 1);
}

}  // namespace qor::testing
