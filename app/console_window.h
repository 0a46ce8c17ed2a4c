#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "app/device_board.h"
#include "ui/window.h"

namespace qor {

class ConsoleServices;

// The dialog's window for a run without one. The workers' row calls go to
// the device board; a message box is printed instead of shown and answered
// with OK at once, as the user would; everything else is kept just far
// enough for the update code to read back what it wrote. Calls are carried
// out on the calling thread, one at a time.
class ConsoleWindow final : public Window {
  public:
    // `checkedRadio` is IDC_RADIO_USB or IDC_RADIO_RS232: the mode of the run.
    ConsoleWindow(DeviceBoard& board, ConsoleServices& services, int checkedRadio);

    void setItemText(int id, std::string_view text) override;
    std::string itemText(int id) override;
    void enableItem(int id, bool enabled) override;
    void showItem(int id, bool visible) override;
    int checkedRadioButton(int first, int last) override;
    void checkRadioButton(int first, int last, int id) override;
    void addComboString(int id, std::string_view text) override;
    void setComboSelection(int id, int index) override;
    int comboSelection(int id) override;
    void setPicture(int id, int bitmapId) override;
    void setProgressRange(int id, uint16_t minimum, uint16_t maximum) override;
    void setProgressPos(int id, int position) override;
    void createControl(const ControlSpec& control) override;
    Rect windowRect() override;
    void moveWindow(const Rect& rect, bool repaint) override;
    void setTimer(int id, uint32_t periodMs) override;
    void killTimer(int id) override;
    void setIcon(int iconId, bool big) override;
    int messageBox(std::string_view text, std::string_view title, uint32_t type) override;
    std::optional<std::string> openFileDialog(const OpenFileRequest& request) override;
    void invoke(const std::function<void()>& task) override;

  private:
    DeviceBoard& m_board;
    ConsoleServices& m_services;

    std::recursive_mutex m_mutex;
    int m_checkedRadio;
    std::map<int, std::string> m_texts;
    std::map<int, int> m_comboSelections;
    // The run grows and shrinks the window; nobody sees it, but the closing
    // reads the rectangle back.
    Rect m_rect{0, 0, 335, 304};
};

}  // namespace qor
