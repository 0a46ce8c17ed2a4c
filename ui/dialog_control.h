#pragma once

#include <string_view>

#include "ui/window.h"

namespace qor {

// A control member of the dialog, bound to its resource id by data
// exchange; it reaches the control only through the window.
class DialogControl {
  public:
    void bind(Window* window, int id) {
        m_window = window;
        m_id = id;
    }
    int id() const { return m_id; }

    void enable(bool enabled) { m_window->enableItem(m_id, enabled); }
    void setText(std::string_view text) { m_window->setItemText(m_id, text); }
    void show(bool visible) { m_window->showItem(m_id, visible); }

  private:
    Window* m_window = nullptr;
    int m_id = 0;
};

}  // namespace qor
