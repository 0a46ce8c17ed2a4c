#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ui/window.h"

namespace qor::testing {

// What the user would see of one control.
struct ControlState {
    std::string text;
    bool enabled = true;
    bool visible = true;
    Rect rect;
    bool checked = false;            // radio buttons
    std::vector<std::string> items;  // combo boxes
    int selection = -1;
    uint16_t rangeMin = 0;  // progress bars
    uint16_t rangeMax = 100;
    int position = 0;
    int picture = 0;                             // bitmap resource shown
    std::optional<ControlSpec::Kind> createdAs;  // set for controls made at run time
    bool centred = false;
};

// One message box, from the moment it opened.
struct MessageBoxRecord {
    std::string text;
    std::string title;
    uint32_t type = 0;
    bool fromUiThread = false;
    bool open = true;           // until the call that raised it has returned
    std::optional<int> answer;  // the button pressed
};

// A window held in memory, for tests of everything that drives the dialog.
//
// It runs a real user-interface thread with a task queue. Every Window call
// made on another thread is carried out on that thread and returns when it
// is done, as the real hosts do; calls made on the user-interface thread
// itself run at once. Tests read the state of every control, the window
// rectangle, the timers, the message boxes and a journal of every change.
//
// Message boxes are answered by the test. By default each is answered with
// OK as it opens; after holdMessageBoxes(true) a box stays open until the
// test answers it, so several workers can sit in their boxes at once. A box
// raised by a worker blocks only that worker; one raised on the
// user-interface thread keeps that thread running queued calls meanwhile, as
// a modal box's own message loop does.
class MemoryWindow final : public Window {
  public:
    static constexpr int kIdOk = 1;
    // The template's window, frame and caption included, at the origin.
    static constexpr Rect kTemplateRect{0, 0, 335, 304};

    explicit MemoryWindow(Rect windowRect = kTemplateRect);
    ~MemoryWindow() override;
    MemoryWindow(const MemoryWindow&) = delete;
    MemoryWindow& operator=(const MemoryWindow&) = delete;

    // Window.
    void setItemText(int id, std::string_view text) override;
    std::string itemText(int id) override;
    void enableItem(int id, bool enabled) override;
    void showItem(int id, bool visible) override;
    int checkedRadioButton(int first, int last) override;
    void checkRadioButton(int first, int last, int id) override;
    void addComboString(int id, std::string_view text) override;
    void resetCombo(int id) override;
    void setComboSelection(int id, int index) override;
    int comboSelection(int id) override;
    void setPicture(int id, int bitmapId) override;
    void setProgressRange(int id, uint16_t minimum, uint16_t maximum) override;
    void setProgressPos(int id, int position) override;
    // Controls made at run time start hidden, as the device rows are made.
    void createControl(const ControlSpec& made) override;
    Rect windowRect() override;
    void moveWindow(const Rect& rect, bool repaint) override;
    int dpi() override;
    // The display scaling the window reports; set before the dialog opens.
    void setDpi(int dpi);
    void setTimer(int id, uint32_t periodMs) override;
    void killTimer(int id) override;
    void setIcon(int iconId, bool big) override;
    int messageBox(std::string_view text, std::string_view title, uint32_t type) override;
    std::optional<std::string> openFileDialog(const OpenFileRequest& request) override;
    void invoke(const std::function<void()>& task) override;

    // Queues `task` for the user-interface thread and returns at once.
    void post(std::function<void()> task);
    bool isUiThread() const { return std::this_thread::get_id() == m_uiThreadId; }

    // Message boxes.
    void holdMessageBoxes(bool hold);
    // Called on the raising thread as each box opens, before it is answered.
    void setBoxObserver(std::function<void(const MessageBoxRecord&)> observer);
    std::vector<MessageBoxRecord> messageBoxes() const;
    size_t openBoxCount() const;
    // Waits until `count` boxes have opened in all, or until `count` are open
    // at the same time; false after `timeout`.
    bool waitForBoxes(size_t count, std::chrono::milliseconds timeout) const;
    bool waitForOpenBoxes(size_t count, std::chrono::milliseconds timeout) const;
    // Presses `button` in box `index` (in the order they opened); false when
    // that box is not open.
    bool answerBox(size_t index, int button = kIdOk);
    // Stops holding and answers every box still waiting, so that a test that
    // failed half-way does not leave its workers stuck.
    void releaseAllBoxes();

    // The open-file dialog's answer, and the requests it was shown with.
    void setOpenFileAnswer(std::optional<std::string> path);
    // Runs on the thread that opened the file dialog while it is open, as
    // the dialog's own message loop would run timers and other events.
    void setWhileFileDialogOpen(std::function<void()> task);
    std::vector<OpenFileRequest> openFileRequests() const;

    // Inspection. A control nobody touched reads as a default ControlState.
    ControlState control(int id) const;
    std::string text(int id) const { return control(id).text; }
    bool isEnabled(int id) const { return control(id).enabled; }
    bool isVisible(int id) const { return control(id).visible; }
    Rect rect() const;
    std::map<int, uint32_t> runningTimers() const;
    // Every change in order, one line each: "text 10 Connect to COM3 ",
    // "enable 1007 0", "show 2 1", "check 1008", "combo-add 1009 COM1",
    // "combo-sel 1009 0", "picture 1004 135", "range 1 0 256", "pos 1 3",
    // "create 1", "move 0 0 335 244", "timer 0 250", "kill-timer 0",
    // "icon 128 1", "box <type> <text>", "box-closed <type> <text>",
    // "file-dialog".
    std::vector<std::string> journal() const;
    // The journal lines that begin with `prefix`.
    std::vector<std::string> journalOf(std::string_view prefix) const;
    // Waits until `line` is in the journal; false after `timeout`.
    bool waitForJournal(std::string_view line, std::chrono::milliseconds timeout) const;

  private:
    void uiLoop();
    // Runs `change` on the user-interface thread with the state locked.
    template <typename Change>
    auto change(Change&& change);
    void note(std::string line);                         // m_mutex held
    ControlState& at(int id) { return m_controls[id]; }  // m_mutex held
    int awaitAnswer(size_t index);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;

    std::map<int, ControlState> m_controls;
    Rect m_rect;
    int m_dpi = kDefaultDpi;
    std::map<int, uint32_t> m_timers;
    std::vector<std::string> m_journal;
    std::vector<MessageBoxRecord> m_boxes;
    bool m_holdBoxes = false;
    std::function<void(const MessageBoxRecord&)> m_boxObserver;
    std::optional<std::string> m_openFileAnswer;
    std::function<void()> m_whileFileDialogOpen;
    std::vector<OpenFileRequest> m_openFileRequests;

    std::thread m_uiThread;
    std::thread::id m_uiThreadId;
};

}  // namespace qor::testing
