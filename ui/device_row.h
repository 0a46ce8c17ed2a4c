#pragma once

#include <cstdint>
#include <string_view>

#include "ui/window.h"

namespace qor {

// The rows' geometry in pixels at 96 dpi: each row is a bar, a gap and a
// label, and the window grows by a row's pitch per device of a run and
// shrinks by as much when the run is closed. A window at another dpi takes
// each figure scaled by dpi / 96, rounded half away from zero as its
// template's dialog units are, so the rows grow with their font.
inline constexpr int kRowBarHeight = 25;
inline constexpr int kRowLabelTop = 30;
inline constexpr int kRowLabelBottom = 50;
inline constexpr int kRowMargin = 10;
inline constexpr int kWindowGrowthPerDevice = 60;

int scaledForDpi(int pixelsAt96, int dpi);

// Makes the hidden bar and label of every row, below the window's fixed
// controls; each label reads "Device: n " in `uiLanguage`.
void createDeviceRowControls(Window& window, uint16_t uiLanguage);

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
