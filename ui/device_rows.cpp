#include "text/catalogue.h"
#include "ui/cqor_dlg.h"
#include "ui/device_row.h"
#include "ui/resource_ids.h"

namespace qor {

// The rows go below the fixed controls. The window rectangle read here, at
// the template position (the screen origin), is taken as client
// coordinates: its bottom is the whole window's height, frame and caption
// included, which puts the first row just under the fixed controls once the
// window has grown. Rows are 50 pixels tall and 60 apart, so they never
// overlap and each fits the 60 pixels the window grows per device.
void CQorDlg::CreateDeviceRows() {
    const Rect frame = m_window->windowRect();
    const int left = frame.left + kRowMargin;
    const int right = frame.right - kRowMargin;
    for (int row = 1; row <= kMaxDeviceRows; ++row) {
        const int top = frame.bottom - kRowLabelBottom + (row - 1) * kRowPitch;
        ControlSpec bar;
        bar.kind = ControlSpec::Kind::ProgressBar;
        bar.id = progressBarId(row - 1);
        bar.rect = {left, top, right, top + kRowBarHeight};
        m_window->createControl(bar);

        ControlSpec label;
        label.kind = ControlSpec::Kind::Label;
        label.id = rowLabelId(row - 1);
        label.rect = {left, top + kRowLabelTop, right, top + kRowLabelBottom};
        label.text =
            formatText(Situation::DeviceRowLabel, m_state.UiLanguage, kTextCapacity, {row});
        label.centred = true;
        m_window->createControl(label);
    }
}

void CQorDlg::growWindow(Rect rect) {
    rect.bottom += kWindowGrowthPerDevice * m_state.DeviceCount;
    m_window->moveWindow(rect, true);
}

}  // namespace qor
