#include "text/catalogue.h"
#include "ui/cqor_dlg.h"
#include "ui/device_row.h"
#include "ui/resource_ids.h"

namespace qor {

int scaledForDpi(int pixelsAt96, int dpi) {
    const long long scaled = static_cast<long long>(pixelsAt96) * dpi;
    const long long half = Window::kDefaultDpi / 2;
    return static_cast<int>((scaled >= 0 ? scaled + half : scaled - half) / Window::kDefaultDpi);
}

// The rows go below the fixed controls. The window rectangle read here, at
// the template position (the screen origin), is taken as client
// coordinates: its bottom is the whole window's height, frame and caption
// included, which puts the first row just under the fixed controls once the
// window has grown. A row is shorter than the pitch, so rows never overlap
// and each fits what the window grows per device.
void createDeviceRowControls(Window& window, uint16_t uiLanguage) {
    const int dpi = window.dpi();
    const int barHeight = scaledForDpi(kRowBarHeight, dpi);
    const int labelTop = scaledForDpi(kRowLabelTop, dpi);
    const int labelBottom = scaledForDpi(kRowLabelBottom, dpi);
    const int pitch = scaledForDpi(kWindowGrowthPerDevice, dpi);
    const int margin = scaledForDpi(kRowMargin, dpi);

    const Rect frame = window.windowRect();
    const int left = frame.left + margin;
    const int right = frame.right - margin;
    for (int row = 1; row <= kMaxDeviceRows; ++row) {
        const int top = frame.bottom - labelBottom + (row - 1) * pitch;
        ControlSpec bar;
        bar.kind = ControlSpec::Kind::ProgressBar;
        bar.id = progressBarId(row - 1);
        bar.rect = {left, top, right, top + barHeight};
        window.createControl(bar);

        ControlSpec label;
        label.kind = ControlSpec::Kind::Label;
        label.id = rowLabelId(row - 1);
        label.rect = {left, top + labelTop, right, top + labelBottom};
        label.text = formatText(Situation::DeviceRowLabel, uiLanguage, kTextCapacity, {row});
        label.centred = true;
        window.createControl(label);
    }
}

void CQorDlg::CreateDeviceRows() {
    createDeviceRowControls(*m_window, m_state.UiLanguage);
}

void CQorDlg::growWindow(Rect rect) {
    rect.bottom += scaledForDpi(kWindowGrowthPerDevice, m_window->dpi()) * m_state.DeviceCount;
    m_window->moveWindow(rect, true);
}

}  // namespace qor
