#pragma once

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ui/device_rows_view.h"
#include "ui/dialog_control.h"
#include "ui/run_log.h"
#include "ui/window.h"
#include "update/update_dialog.h"

namespace qor {

// What the window host tells the dialog.
enum class DialogEvent {
    InitDialog,
    Close,  // the close box, Escape or OK
    Paint,
    QueryDragIcon,
    Clicked,  // a button; id says which
    Timer,    // id is the timer's
    Destroy,
};

struct DialogMessage {
    DialogEvent event;
    int id = 0;
};

// The main dialog: every handler, mode, poll, row and message, written once
// against the Window interface. A host creates the window from the
// template, attaches it, calls OnInitDialog and then routes its events
// through dispatch().
class CQorDlg final : public UpdateDialog {
  public:
    // `runLog`: the file the records of the runs are appended to (see
    // RunLog); none when empty.
    CQorDlg(AppState& state, Services& services, std::filesystem::path runLog = {});

    void attach(Window& window);
    bool OnInitDialog();
    // Routes one event to its handler: initialisation and closing as the
    // dialog framework does, everything else through the message map. False
    // when nothing takes it.
    bool dispatch(const DialogMessage& message);
    // The dialog stays while an update run is open, its workers use it, and
    // while the main button's click is still starting one: a close asked for
    // from outside can arrive in the message loop of the file dialog or of a
    // box, and the click goes on to start workers on this dialog.
    bool canClose() const { return !m_starting.load() && !m_runOpen.load(); }
    // A close was asked for and accepted; the host then takes the window down.
    bool ended() const { return m_ended; }

    // Message handlers.
    void OnPaint();
    int OnQueryDragIcon() const { return m_hIcon; }
    void OnBnClickedUpdate();
    void OnTimer(int timerId);
    void OnDestroy();
    void OnBnClickedRs232();
    void OnBnClickedUsb();
    void OnClose();

    // From the main button's click until its run is closed: the main button,
    // the radio buttons and the port list are not listened to, and the mode
    // and port asked for are those the click started with.
    bool runBusy() const { return m_starting.load() || m_runOpen.load(); }

    // Rows of the update run.
    void CreateDeviceRows();

    // UpdateDialog
    Window& window() { return *m_window; }
    DeviceObserver& deviceEvents() override {
        return m_runLog ? static_cast<DeviceObserver&>(*m_runLog) : *m_rows;
    }
    AppState& state() override { return m_state; }
    Services& services() override { return m_services; }
    void enterSelectedMode() override;
    bool usbModeSelected() override;
    std::string selectedComPort() override;
    void runClosed() override { m_runOpen.store(false); }

  private:
    void DoDataExchange(bool saveAndValidate);
    void UpdateData(bool saveAndValidate) { DoDataExchange(saveAndValidate); }
    void setStatus(std::string text);
    void showPicture(int bitmapId);
    void growWindow(Rect rect);
    void fillPortList();
    // After a connect whose update never started: usable RS-232 mode again.
    void returnToRs232Mode();
    // A click that reached a control the busy dialog does not listen to:
    // nothing happens, and a radio button shows the run's mode again.
    void ignoreClickWhileBusy(int id);

    AppState& m_state;
    Services& m_services;
    Window* m_window = nullptr;
    // The rows' rendering of the device events, over the attached window,
    // and the log of runs that passes them on to it.
    std::optional<DeviceRowsView> m_rows;
    const std::filesystem::path m_runLogPath;
    std::optional<RunLog> m_runLog;

    int m_hIcon;
    DialogControl m_btnUpdate;
    std::string m_strInfo;
    DialogControl m_picture;
    DialogControl m_comboPort;

    std::atomic<bool> m_runOpen{false};
    // The main button's handler is running. Its waits may run the host's
    // event loop (message boxes, the file dialog), which would hand it
    // queued clicks. Written on the user-interface thread only.
    std::atomic<bool> m_starting{false};
    // What the handler started with; written only while no worker runs.
    bool m_runUsb = false;
    std::string m_runPort;
    // The port list's entries, in its order. User-interface thread only.
    std::vector<std::string> m_portNames;
    bool m_ended = false;
};

}  // namespace qor
