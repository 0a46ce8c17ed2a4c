#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qor {

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

// What the update flow asks of the open-file dialog.
struct OpenFileRequest {
    std::string filterName;   // "FW File "
    std::string filterSpec;   // "*.*"
    std::string initialPath;  // the previous choice, empty the first time
    uint32_t flags = 0;       // path must exist, keep the working folder, ...
    int maxPathLength = 0;    // capacity of the buffer the path goes into
};

// A control created at run time (the device rows).
struct ControlSpec {
    enum class Kind { ProgressBar, Label };
    Kind kind = Kind::Label;
    int id = 0;
    Rect rect;  // client coordinates, pixels
    std::string text;
    bool centred = false;
};

// The dialog window as the dialog logic sees it: controls addressed by their
// resource ids, the window rectangle, the poll timer, message boxes and the
// open-file dialog. Every call may come from any thread; a host carries it
// out on its user-interface thread and returns when it has been done, so a
// worker's call behaves as if the worker had made it there. A message box
// blocks only the thread that raised it.
class Window {
  public:
    virtual ~Window() = default;

    virtual void setItemText(int id, std::string_view text) = 0;
    virtual std::string itemText(int id) = 0;
    virtual void enableItem(int id, bool enabled) = 0;
    virtual void showItem(int id, bool visible) = 0;

    // The checked button of the group first..last, 0 when none is.
    virtual int checkedRadioButton(int first, int last) = 0;
    virtual void checkRadioButton(int first, int last, int id) = 0;

    virtual void addComboString(int id, std::string_view text) = 0;
    // Empties the list and clears its selection.
    virtual void resetCombo(int id) = 0;
    virtual void setComboSelection(int id, int index) = 0;
    virtual int comboSelection(int id) = 0;  // -1 when nothing is selected

    // Shows bitmap resource `bitmapId` in the picture control `id`.
    virtual void setPicture(int id, int bitmapId) = 0;

    virtual void setProgressRange(int id, uint16_t minimum, uint16_t maximum) = 0;
    virtual void setProgressPos(int id, int position) = 0;

    virtual void createControl(const ControlSpec& control) = 0;

    // Screen coordinates of the whole window, frame included.
    virtual Rect windowRect() = 0;
    virtual void moveWindow(const Rect& rect, bool repaint) = 0;

    // Pixels per logical inch of the window's text: 96 at 100 % display
    // scaling, 144 at 150 %.
    virtual int dpi() { return kDefaultDpi; }
    static constexpr int kDefaultDpi = 96;

    virtual void setTimer(int id, uint32_t periodMs) = 0;
    virtual void killTimer(int id) = 0;

    virtual void setIcon(int iconId, bool big) = 0;

    // Modal for the user; returns the button pressed.
    virtual int messageBox(std::string_view text, std::string_view title, uint32_t type) = 0;

    // The chosen path, or nothing when the user cancelled or the dialog failed.
    virtual std::optional<std::string> openFileDialog(const OpenFileRequest& request) = 0;

    // Runs `task` on the user-interface thread and returns when it is done;
    // from that thread itself, runs it at once. For work that must belong to
    // that thread as a whole, such as entering a mode (its timer is the
    // user-interface thread's).
    virtual void invoke(const std::function<void()>& task) = 0;
};

}  // namespace qor
