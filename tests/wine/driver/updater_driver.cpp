// Drives qor-updater.exe as a user would, purely by window messages: finds
// the dialog by its caption, clicks its buttons, answers the open-file
// dialog and the message boxes, and follows the progress rows. It prints a
// transcript of what the window showed at each step, one fact a line, for
// the test on the Linux side to check against the catalogue; where a
// screenshot belongs it prints "shot <name>" and, for still pictures, waits
// until <shots>\<name>.png exists.
//
//   updater_driver.exe <image> <shots folder> <USB imagers> <RS-232 port number>
//
// A count or port number of 0 skips that run.

#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "tests/wine/driver/window_probe.h"
#include "ui/resource_ids.h"

namespace qor::driver {

namespace {

using namespace std::chrono_literals;

constexpr wchar_t kCaption[] = L"2D Imager Vantor - V3.7";
// The common dialog's file-name box: a combo box in the explorer-style
// dialog, an edit control in the old one.
constexpr int kFileNameCombo = 0x47c;
constexpr int kFileNameEdit = 0x480;

constexpr int kRowIds[] = {1, 2, 3, 4, 5, 6, 10, 11, 12, 13, 14, 15};

void say(const std::string& key, const std::string& value = {}) {
    std::printf("%s%s%s\n", key.c_str(), value.empty() ? "" : " ", value.c_str());
    std::fflush(stdout);
}

void sayText(HWND dialog, int id) {
    say("text " + std::to_string(id), transcriptText(itemText(dialog, id)));
}
void sayEnabled(HWND dialog, int id) {
    say("enabled " + std::to_string(id), itemEnabled(dialog, id) ? "1" : "0");
}
void sayVisible(HWND dialog, int id) {
    say("visible " + std::to_string(id), itemVisible(dialog, id) ? "1" : "0");
}
void sayChecked(HWND dialog, int id) {
    const LRESULT state = ask(GetDlgItem(dialog, id), BM_GETCHECK);
    say("checked " + std::to_string(id), state == BST_CHECKED ? "1" : "0");
}

// The state of the dialog's own controls (not the rows), as a user sees it.
void sayControls(HWND dialog) {
    for (int id : {IDC_UPDATE, IDC_INFO, IDC_RADIO_USB, IDC_RADIO_RS232, IDC_COMBO_PORT, IDC_STEP1,
                   IDC_STEP2}) {
        sayText(dialog, id);
    }
    for (int id : {IDC_UPDATE, IDC_COMBO_PORT, IDC_RADIO_USB, IDC_RADIO_RS232}) {
        sayEnabled(dialog, id);
    }
    for (int id : {IDC_STEP1, IDC_STEP2}) {
        sayVisible(dialog, id);
    }
    sayChecked(dialog, IDC_RADIO_USB);
    sayChecked(dialog, IDC_RADIO_RS232);
    say("height", std::to_string(windowHeight(dialog)));
}

std::set<int> visibleRowControls(HWND dialog) {
    std::set<int> ids;
    for (int id : kRowIds) {
        if (itemVisible(dialog, id)) {
            ids.insert(id);
        }
    }
    return ids;
}

std::string listed(const std::set<int>& ids) {
    std::string text;
    for (int id : ids) {
        text += (text.empty() ? "" : ",") + std::to_string(id);
    }
    return text;
}

// The poll's status line for `imagers`: every language writes the count
// after two spaces.
std::wstring counted(int imagers) {
    return L"  " + std::to_wstring(imagers) + L" ";
}

bool fileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isFileDialog(HWND window) {
    return GetDlgItem(window, kFileNameCombo) != nullptr ||
           GetDlgItem(window, kFileNameEdit) != nullptr;
}

// The message box's own text is its one static control that has any.
std::wstring boxText(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (className(child) == L"Static") {
            std::wstring text = textOf(child);
            if (!text.empty()) {
                return text;
            }
        }
    }
    return {};
}

// A message box once it is set up: its window shows before its text is in.
bool isMessageBox(HWND window) {
    return !isFileDialog(window) && GetDlgItem(window, IDOK) != nullptr && !boxText(window).empty();
}

// Clicks the way the dialog's own button would: a posted command, so the
// driver never waits inside a handler that opens a modal loop.
void pressButton(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

class Driver {
  public:
    Driver(std::wstring image, std::wstring shots)
        : m_image(std::move(image)), m_shots(std::move(shots)) {}

    bool run(int usbImagers, int rs232Port) {
        if (!findDialog() || !idle()) {
            return false;
        }
        if (usbImagers > 0 && !(enterUsb(usbImagers) && update("usb", usbImagers))) {
            return false;
        }
        if (rs232Port > 0 && !(enterRs232(rs232Port) && update("rs232", 1))) {
            return false;
        }
        say("done");
        return true;
    }

  private:
    bool fail(const std::string& what) {
        say("fail", what);
        return false;
    }

    // A still picture of `window` on top of the dialog: the Linux side takes
    // it and writes the file we wait for.
    bool shot(const std::string& name, HWND window) {
        if (!waitPainted(m_dialog, 10s) || !waitPainted(window, 10s)) {
            return fail("not painted for " + name);
        }
        say("shot", name);
        const std::wstring file =
            m_shots + L"\\" + std::wstring(name.begin(), name.end()) + L".png";
        return waitUntil([&] { return fileExists(file); }, 60s) ||
               fail("no screenshot " + transcriptText(file));
    }

    bool findDialog() {
        const bool shown = waitUntil(
            [&] {
                m_dialog = FindWindowW(L"#32770", kCaption);
                return m_dialog != nullptr && IsWindowVisible(m_dialog) &&
                       !itemText(m_dialog, IDC_UPDATE).empty();
            },
            60s);
        return shown || fail("no dialog with the caption");
    }

    bool idle() {
        say("step", "idle");
        say("caption", transcriptText(textOf(m_dialog)));
        sayControls(m_dialog);
        const HWND ports = GetDlgItem(m_dialog, IDC_COMBO_PORT);
        const LRESULT count = ask(ports, CB_GETCOUNT);
        say("ports", std::to_string(count));
        std::wstring last(64, L'\0');
        last.resize(static_cast<std::size_t>(
            std::max<LRESULT>(0, ask(ports, CB_GETLBTEXT, static_cast<WPARAM>(count - 1),
                                     reinterpret_cast<LPARAM>(last.data())))));
        say("last port", transcriptText(last));
        for (int id : kRowIds) {
            sayVisible(m_dialog, id);
        }
        for (int id = rowLabelId(0); id < rowLabelId(kMaxDeviceRows); ++id) {
            sayText(m_dialog, id);
        }
        m_idleHeight = windowHeight(m_dialog);
        return shot("idle", m_dialog);
    }

    bool enterUsb(int imagers) {
        PostMessageW(GetDlgItem(m_dialog, IDC_RADIO_USB), BM_CLICK, 0, 0);
        const bool polled = waitUntil(
            [&] {
                return itemEnabled(m_dialog, IDC_UPDATE) &&
                       itemText(m_dialog, IDC_INFO).rfind(counted(imagers), 0) == 0;
            },
            30s);
        if (!polled) {
            return fail("the poll did not count the imagers: " +
                        transcriptText(itemText(m_dialog, IDC_INFO)));
        }
        say("step", "usb");
        sayControls(m_dialog);
        return true;
    }

    bool enterRs232(int port) {
        PostMessageW(GetDlgItem(m_dialog, IDC_RADIO_RS232), BM_CLICK, 0, 0);
        const bool entered = waitUntil(
            [&] {
                return itemEnabled(m_dialog, IDC_COMBO_PORT) && !itemVisible(m_dialog, IDC_STEP1);
            },
            30s);
        if (!entered) {
            return fail("RS-232 mode was not entered");
        }
        // Chosen as from the list, by its name: the selection, then the
        // notice to the dialog.
        const HWND combo = GetDlgItem(m_dialog, IDC_COMBO_PORT);
        const std::wstring name = L"COM" + std::to_wstring(port);
        const LRESULT index = ask(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                  reinterpret_cast<LPARAM>(name.c_str()));
        if (index == CB_ERR) {
            return fail("the port list has no COM" + std::to_string(port));
        }
        ask(combo, CB_SETCURSEL, static_cast<WPARAM>(index));
        PostMessageW(m_dialog, WM_COMMAND, MAKEWPARAM(IDC_COMBO_PORT, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        say("step", "rs232");
        sayControls(m_dialog);
        return true;
    }

    bool answerFileDialog(const std::string& mode) {
        HWND files = nullptr;
        if (!waitUntil([&] { return (files = ownedDialog(m_dialog, isFileDialog)) != nullptr; },
                       60s)) {
            return fail("no open-file dialog");
        }
        say("step", mode + "-file");
        say("title", transcriptText(textOf(files)));
        m_runCaption = itemText(m_dialog, IDC_UPDATE);
        sayText(m_dialog, IDC_UPDATE);
        sayEnabled(m_dialog, IDC_UPDATE);
        HWND name = GetDlgItem(files, kFileNameCombo);
        if (name == nullptr) {
            name = GetDlgItem(files, kFileNameEdit);
        }
        // Typed in again until it shows: the dialog may still be filling
        // its controls when its window appears.
        const bool typed = waitUntil(
            [&] {
                ask(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(m_image.c_str()));
                return textOf(name) == m_image && itemEnabled(files, IDOK);
            },
            30s);
        if (!typed) {
            return fail("the file name could not be typed in");
        }
        pressButton(files, IDOK);
        return waitUntil([&] { return !IsWindow(files) || !IsWindowVisible(files); }, 30s) ||
               fail("the open-file dialog stayed");
    }

    // Follows the rows until a message box closes the run.
    HWND followRun(const std::string& mode, int devices) {
        say("step", mode + "-run");
        std::wstring labels[kMaxDeviceRows];
        int highest = 0;
        std::set<int> shown;
        bool halfway = false;
        HWND box = nullptr;
        waitUntil(
            [&] {
                highest = std::max(highest, windowHeight(m_dialog));
                for (int id : visibleRowControls(m_dialog)) {
                    if (shown.insert(id).second && id >= rowLabelId(0)) {
                        // A label's height against a line of its font.
                        const HWND label = GetDlgItem(m_dialog, id);
                        say("fit " + std::to_string(id), std::to_string(windowHeight(label)) + " " +
                                                             std::to_string(lineHeight(label)));
                    }
                }
                for (int i = 0; i < devices; ++i) {
                    const std::wstring label = itemText(m_dialog, rowLabelId(i));
                    if (label != labels[i]) {
                        labels[i] = label;
                        say("row " + std::to_string(rowLabelId(i)), transcriptText(label));
                    }
                    const HWND bar = GetDlgItem(m_dialog, progressBarId(i));
                    const auto top = ask(bar, PBM_GETRANGE, FALSE, 0);
                    const auto position = ask(bar, PBM_GETPOS);
                    if (!halfway && top > 0 && position * 2 >= top && position < top) {
                        halfway = true;
                        say("bar " + std::to_string(progressBarId(i)),
                            std::to_string(position) + "/" + std::to_string(top));
                        // The run goes on while the picture is taken.
                        say("shot", mode + "-running");
                    }
                }
                box = ownedDialog(m_dialog, isMessageBox);
                return box != nullptr;
            },
            180s);
        say("grown", std::to_string(highest - m_idleHeight));
        say("shown", listed(shown));
        return box;
    }

    bool update(const std::string& mode, int devices) {
        pressButton(m_dialog, IDC_UPDATE);
        if (!answerFileDialog(mode)) {
            return false;
        }
        const HWND box = followRun(mode, devices);
        if (box == nullptr) {
            return fail("no message box closed the run");
        }
        say("step", mode + "-box");
        say("title", transcriptText(textOf(box)));
        say("message", transcriptText(boxText(box)));
        say("topmost", (GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0 ? "1" : "0");
        // A log-off asked for while the run is open (its last worker waits
        // on the box), and again once it has closed.
        say("end-session", ask(m_dialog, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF) ? "1" : "0");
        if (!shot(mode + "-success", box)) {
            return false;
        }
        pressButton(box, IDOK);
        // Closed once the mode has been entered again: the workers left the
        // main button disabled, and only that entry (RS-232: with its own
        // caption) or the restarted poll (USB: counting again) enables it.
        const bool closed = waitUntil(
            [&] {
                const bool reentered =
                    mode == "usb" ? itemText(m_dialog, IDC_INFO).rfind(counted(devices), 0) == 0
                                  : itemEnabled(m_dialog, IDC_COMBO_PORT) &&
                                        itemText(m_dialog, IDC_UPDATE) != m_runCaption;
                return !IsWindow(box) && windowHeight(m_dialog) == m_idleHeight &&
                       itemEnabled(m_dialog, IDC_RADIO_USB) && itemEnabled(m_dialog, IDC_UPDATE) &&
                       reentered;
            },
            60s);
        if (!closed) {
            return fail("the run did not close");
        }
        say("step", mode + "-end");
        say("end-session", ask(m_dialog, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF) ? "1" : "0");
        sayControls(m_dialog);
        say("shown", listed(visibleRowControls(m_dialog)));
        return true;
    }

    const std::wstring m_image;
    const std::wstring m_shots;
    HWND m_dialog = nullptr;
    int m_idleHeight = 0;
    std::wstring m_runCaption;  // the main button's caption while a run goes
};

}  // namespace

}  // namespace qor::driver

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fprintf(stderr,
                     "usage: updater_driver <image> <shots folder> <usb imagers> <rs232 port>\n");
        return 2;
    }
    // The transcript is UTF-8 lines for the Linux side: no "\r" added.
    _setmode(_fileno(stdout), _O_BINARY);
    qor::driver::Driver driver(argv[1], argv[2]);
    return driver.run(_wtoi(argv[3]), _wtoi(argv[4])) ? 0 : 1;
}
