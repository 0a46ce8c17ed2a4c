#include "ui/qt/qt_dialog_host.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include "ui/dialog_template.h"
#include "ui/resource_ids.h"

namespace qor {

namespace {

// How long the window manager may take to frame and map a new window.
constexpr int kFramingTimeoutMs = 2000;

// The dialog's initialisation, with the window reported at the template's
// position throughout.
class TemplatePositionReported {
  public:
    explicit TemplatePositionReported(QtDialogWindow& window) : m_window(window) {
        m_window.reportTemplatePosition(true);
    }
    ~TemplatePositionReported() { m_window.reportTemplatePosition(false); }
    TemplatePositionReported(const TemplatePositionReported&) = delete;
    TemplatePositionReported& operator=(const TemplatePositionReported&) = delete;

  private:
    QtDialogWindow& m_window;
};

template <typename Done>
bool processEventsUntil(Done done, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void centreOnScreen(QWidget& window) {
    const QScreen* screen = window.screen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    const QRect frame = window.frameGeometry();
    window.move(area.left() + (area.width() - frame.width()) / 2,
                area.top() + (area.height() - frame.height()) / 2);
}

// The first tab stop that can take the focus, as Windows picks it when the
// dialog's initialisation leaves the focus to it.
void focusFirstTabStop(QtDialogWindow& window) {
    for (const ControlTemplate& control : mainDialogTemplate().controls) {
        QWidget* widget = window.item(control.id);
        if ((control.style & control_style::kTabStop) != 0 && widget->isEnabled() &&
            widget->isVisible()) {
            widget->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

}  // namespace

std::unique_ptr<QtDialogWindow> QtDialogHost::open(CQorDlg& dialog) {
    auto window = std::make_unique<QtDialogWindow>(dialog, mainDialogTemplate());
    dialog.attach(*window);

    // The dialog reads the window rectangle while it initialises and counts
    // on it standing at the template's position with its frame around it
    // (the device rows are placed from it). Windows knows a window's frame
    // before showing it; X11 only once the window manager has framed it.
    // So the window is shown first, not yet taking input, and initialised
    // as soon as it is framed (at once where nothing frames windows). Where
    // the window manager has put it does not matter: the rectangle is
    // reported at the template's position. Where a compositor draws
    // windows, the window stays invisible until it is ready where it
    // belongs.
    window->setWindowOpacity(0.0);
    window->setEnabled(false);
    window->show();
    processEventsUntil([&] { return window->windowHandle()->isExposed(); }, kFramingTimeoutMs);

    {
        const TemplatePositionReported reported(*window);
        dialog.dispatch({DialogEvent::InitDialog});
    }
    window->setEnabled(true);
    centreOnScreen(*window);
    window->setWindowOpacity(1.0);
    focusFirstTabStop(*window);
    return window;
}

int QtDialogHost::runModal(CQorDlg& dialog) {
    std::unique_ptr<QtDialogWindow> window = open(dialog);
    const int result = window->exec();
    window->deliverDestroy();
    return result;
}

}  // namespace qor
