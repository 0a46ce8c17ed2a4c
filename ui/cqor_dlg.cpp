#include "ui/cqor_dlg.h"

#include "serial/serial_port_list.h"
#include "text/catalogue.h"
#include "text/ui_language.h"
#include "ui/resource_ids.h"

namespace qor {

namespace {

struct MessageMapEntry {
    DialogEvent event;
    int id;  // 0: any
    void (*handler)(CQorDlg& dialog, const DialogMessage& message);
};

// In the order the handlers were declared to the framework.
constexpr MessageMapEntry kMessageMap[] = {
    {DialogEvent::Paint, 0, [](CQorDlg& d, const DialogMessage&) { d.OnPaint(); }},
    {DialogEvent::QueryDragIcon, 0, [](CQorDlg& d, const DialogMessage&) { d.OnQueryDragIcon(); }},
    {DialogEvent::Clicked, IDC_UPDATE,
     [](CQorDlg& d, const DialogMessage&) { d.OnBnClickedUpdate(); }},
    {DialogEvent::Timer, 0, [](CQorDlg& d, const DialogMessage& m) { d.OnTimer(m.id); }},
    {DialogEvent::Destroy, 0, [](CQorDlg& d, const DialogMessage&) { d.OnDestroy(); }},
    {DialogEvent::Clicked, IDC_RADIO_RS232,
     [](CQorDlg& d, const DialogMessage&) { d.OnBnClickedRs232(); }},
    {DialogEvent::Clicked, IDC_RADIO_USB,
     [](CQorDlg& d, const DialogMessage&) { d.OnBnClickedUsb(); }},
};

}  // namespace

CQorDlg::CQorDlg(AppState& state, Services& services, std::filesystem::path runLog)
    : m_state(state),
      m_services(services),
      m_runLogPath(std::move(runLog)),
      m_hIcon(IDR_MAINFRAME) {}

void CQorDlg::attach(Window& window) {
    m_window = &window;
    m_rows.emplace(window, m_state);
    if (!m_runLogPath.empty()) {
        m_runLog.emplace(*m_rows, *this, m_runLogPath);
    }
}

bool CQorDlg::dispatch(const DialogMessage& message) {
    switch (message.event) {
        case DialogEvent::InitDialog:
            OnInitDialog();
            return true;
        case DialogEvent::Close:
            OnClose();
            return true;
        case DialogEvent::Clicked:
            if (runBusy() && (message.id == IDC_UPDATE || message.id == IDC_RADIO_USB ||
                              message.id == IDC_RADIO_RS232 || message.id == IDC_COMBO_PORT)) {
                // Clicks queued while the main button's handler waited (the
                // USB port check blocks for up to a second with every
                // control still enabled) would start a second run over the
                // first one's workers, or switch them to another mode.
                ignoreClickWhileBusy(message.id);
                return true;
            }
            break;
        default:
            break;
    }
    for (const MessageMapEntry& entry : kMessageMap) {
        if (entry.event == message.event && (entry.id == 0 || entry.id == message.id)) {
            entry.handler(*this, message);
            return true;
        }
    }
    return false;
}

void CQorDlg::DoDataExchange(bool saveAndValidate) {
    m_btnUpdate.bind(m_window, IDC_UPDATE);
    if (saveAndValidate) {
        m_strInfo = m_window->itemText(IDC_INFO);
    } else {
        m_window->setItemText(IDC_INFO, m_strInfo);
    }
    m_picture.bind(m_window, IDC_PICTURE);
    m_comboPort.bind(m_window, IDC_COMBO_PORT);
}

bool CQorDlg::OnInitDialog() {
    UpdateData(false);
    m_window->setIcon(m_hIcon, true);
    m_window->setIcon(m_hIcon, false);

    m_state.UiLanguage = userDefaultUiLanguage();
    m_window->setItemText(IDC_STEP1,
                          catalogueText(Situation::Step1Instructions, m_state.UiLanguage));
    m_window->setItemText(IDC_STEP2,
                          catalogueText(Situation::Step2Instructions, m_state.UiLanguage));

    m_window->checkRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232, IDC_RADIO_RS232);

    OnBnClickedRs232();
    CreateDeviceRows();
    return true;
}

// Drawing the minimised icon is the host's: it knows its own painting.
void CQorDlg::OnPaint() {}

void CQorDlg::OnDestroy() {}

void CQorDlg::OnClose() {
    // Refused while a run is open: its workers still drive this dialog.
    m_ended = canClose();
}

void CQorDlg::enterSelectedMode() {
    m_window->invoke([this] {
        if (m_window->checkedRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232) == IDC_RADIO_RS232) {
            OnBnClickedRs232();
        } else {
            OnBnClickedUsb();
        }
    });
}

void CQorDlg::ignoreClickWhileBusy(int id) {
    if (id == IDC_RADIO_USB || id == IDC_RADIO_RS232) {
        // The button checked itself before the click came here.
        m_window->checkRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232,
                                   m_runUsb ? IDC_RADIO_USB : IDC_RADIO_RS232);
    }
}

bool CQorDlg::usbModeSelected() {
    if (runBusy()) {
        return m_runUsb;
    }
    return m_window->checkedRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232) == IDC_RADIO_USB;
}

std::string CQorDlg::selectedComPort() {
    if (runBusy()) {
        return m_runPort;
    }
    const int selection = m_window->comboSelection(IDC_COMBO_PORT);
    if (selection < 0 || static_cast<std::size_t>(selection) >= m_portNames.size()) {
        return {};
    }
    return m_portNames[static_cast<std::size_t>(selection)];
}

// COM1 to COM20 first, always, then every other serial port present, so an
// adapter plugged in since the last look is there after a switch to RS-232.
// The port chosen before stays chosen while it is there.
void CQorDlg::fillPortList() {
    const std::string chosen = selectedComPort();
    m_portNames.clear();
    for (int port = 1; port <= kComListSize; ++port) {
        m_portNames.push_back(
            formatText(Situation::PortListEntry, m_state.UiLanguage, kComNameCapacity, {port}));
    }
    for (std::string& port : ListOtherSerialPorts(m_services.registry())) {
        m_portNames.push_back(std::move(port));
    }
    m_window->resetCombo(IDC_COMBO_PORT);
    int selection = 0;
    for (std::size_t i = 0; i < m_portNames.size(); ++i) {
        m_window->addComboString(IDC_COMBO_PORT, m_portNames[i]);
        if (m_portNames[i] == chosen) {
            selection = static_cast<int>(i);
        }
    }
    m_window->setComboSelection(IDC_COMBO_PORT, selection);
}

void CQorDlg::setStatus(std::string text) {
    m_strInfo = std::move(text);
    UpdateData(false);
}

void CQorDlg::showPicture(int bitmapId) {
    // The host keeps one picture per bitmap id and replaces the shown one,
    // so nothing of the previous picture is left behind.
    m_state.PictureBitmap.store(bitmapId);
    m_window->setPicture(IDC_PICTURE, bitmapId);
}

}  // namespace qor
