#pragma once

#include <cstdint>
#include <string_view>

#include "ui/window.h"

namespace qor {

// Window height added for each device of a run, and taken away again when
// the run is closed.
inline constexpr int kWindowGrowthPerDevice = 60;

// The progress bar and the status label of one device's row, addressed by
// the device index.
class DeviceRow {
  public:
    DeviceRow(Window& window, int deviceIndex);

    void showLabel();
    void setLabel(std::string_view text);
    // The bar runs from 0 to `maximum`; the control takes 16 bits.
    void setBarRange(uint16_t maximum);
    void setBarPosition(int position);
    void showBar();
    // The bar first, then the label.
    void hide();

  private:
    Window& m_window;
    int m_barId;
    int m_labelId;
};

}  // namespace qor
