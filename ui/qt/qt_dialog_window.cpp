#include "ui/qt/qt_dialog_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QSessionManager>
#include <QTimer>
#include <algorithm>

#include "ui/qt/gui_thread.h"
#include "ui/qt/qt_resources.h"
#include "ui/qt/qt_text.h"

namespace qor {

namespace {

// The text as the dialog gave it, "\r" and all, for reading back.
constexpr char kTextProperty[] = "qorText";

}  // namespace

template <typename Task>
auto QtDialogWindow::onGuiThread(Task&& task) {
    return runOnThreadOf(this, std::forward<Task>(task));
}

QtDialogWindow::QtDialogWindow(CQorDlg& dialog, const DialogTemplate& dialogTemplate)
    : QDialog(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_dialog(dialog) {
    layOut(dialogTemplate);
    // A log-off while imagers are being written would cut their updates
    // off, as closing the window would: the session manager is asked to
    // wait, where the desktop has one that listens.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        if (!m_dialog.canClose() && manager.allowsInteraction()) {
            manager.cancel();
            manager.release();
        }
    });
}

QtDialogWindow::~QtDialogWindow() = default;

QWidget* QtDialogWindow::item(int id) const {
    const auto found = m_items.find(id);
    return found == m_items.end() ? nullptr : found->second;
}

void QtDialogWindow::deliver(const DialogMessage& message) {
    m_dialog.dispatch(message);
}

void QtDialogWindow::deliverDestroy() {
    onGuiThread([this] { deliver({DialogEvent::Destroy}); });
}

bool QtDialogWindow::closeAccepted() {
    deliver({DialogEvent::Close});
    return m_dialog.ended();
}

void QtDialogWindow::reject() {
    if (closeAccepted()) {
        QDialog::reject();
    }
}

void QtDialogWindow::closeEvent(QCloseEvent* event) {
    if (!closeAccepted()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void QtDialogWindow::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    deliver({DialogEvent::Paint});
}

void QtDialogWindow::setItemText(int id, std::string_view text) {
    onGuiThread([&] {
        QWidget* widget = item(id);
        if (widget == nullptr) {
            return;
        }
        widget->setProperty(kTextProperty, QByteArray(text.data(), qsizetype(text.size())));
        const QString shown = displayText(text);
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            label->setText(shown);
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            button->setText(shown);
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            combo->setCurrentIndex(combo->findText(shown));
        }
    });
}

std::string QtDialogWindow::itemText(int id) {
    return onGuiThread([&]() -> std::string {
        QWidget* widget = item(id);
        if (widget == nullptr) {
            return {};
        }
        if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            return utf8Text(combo->currentText());
        }
        return widget->property(kTextProperty).toByteArray().toStdString();
    });
}

void QtDialogWindow::enableItem(int id, bool enabled) {
    onGuiThread([&] {
        if (QWidget* widget = item(id)) {
            widget->setEnabled(enabled);
        }
    });
}

void QtDialogWindow::showItem(int id, bool visible) {
    onGuiThread([&] {
        if (QWidget* widget = item(id)) {
            widget->setVisible(visible);
        }
    });
}

int QtDialogWindow::checkedRadioButton(int first, int last) {
    return onGuiThread([&] {
        for (int id = first; id <= last; ++id) {
            if (auto* radio = qobject_cast<QRadioButton*>(item(id)); radio && radio->isChecked()) {
                return id;
            }
        }
        return 0;
    });
}

void QtDialogWindow::checkRadioButton(int first, int last, int id) {
    onGuiThread([&] {
        for (int other = first; other <= last; ++other) {
            auto* radio = qobject_cast<QRadioButton*>(item(other));
            if (radio == nullptr) {
                continue;
            }
            // An auto-exclusive button refuses to be unchecked on its own;
            // CheckRadioButton unchecks the whole range, even when `id` is
            // not in it.
            const bool exclusive = radio->autoExclusive();
            radio->setAutoExclusive(false);
            radio->setChecked(other == id);
            radio->setAutoExclusive(exclusive);
        }
    });
}

void QtDialogWindow::addComboString(int id, std::string_view text) {
    onGuiThread([&] {
        if (auto* combo = qobject_cast<QComboBox*>(item(id))) {
            // Adding leaves the selection as it is, as CB_ADDSTRING does.
            const int selected = combo->currentIndex();
            combo->addItem(displayText(text));
            combo->setCurrentIndex(selected);
        }
    });
}

void QtDialogWindow::resetCombo(int id) {
    onGuiThread([&] {
        if (auto* combo = qobject_cast<QComboBox*>(item(id))) {
            combo->clear();
        }
    });
}

void QtDialogWindow::setComboSelection(int id, int index) {
    onGuiThread([&] {
        if (auto* combo = qobject_cast<QComboBox*>(item(id))) {
            combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
        }
    });
}

int QtDialogWindow::comboSelection(int id) {
    return onGuiThread([&] {
        auto* combo = qobject_cast<QComboBox*>(item(id));
        return combo != nullptr ? combo->currentIndex() : -1;
    });
}

void QtDialogWindow::setPicture(int id, int bitmapId) {
    onGuiThread([&] {
        if (auto* picture = qobject_cast<QLabel*>(item(id))) {
            const QPixmap pixmap = bitmapResource(bitmapId);
            picture->setPixmap(pixmap);
            picture->setProperty("bitmapId", bitmapId);
            // A bitmap static takes the size of its bitmap; its corner stays.
            if (!pixmap.isNull()) {
                picture->resize(pixmap.size());
            }
        }
    });
}

void QtDialogWindow::setProgressRange(int id, uint16_t minimum, uint16_t maximum) {
    onGuiThread([&] {
        if (auto* bar = qobject_cast<QProgressBar*>(item(id))) {
            bar->setRange(minimum, maximum);
        }
    });
}

void QtDialogWindow::setProgressPos(int id, int position) {
    onGuiThread([&] {
        if (auto* bar = qobject_cast<QProgressBar*>(item(id))) {
            // A Windows bar clamps a position outside its range; Qt's would
            // ignore it and keep the old one.
            bar->setValue(
                std::clamp(position, bar->minimum(), std::max(bar->minimum(), bar->maximum())));
        }
    });
}

void QtDialogWindow::createControl(const ControlSpec& control) {
    onGuiThread([&] {
        QWidget* widget = nullptr;
        if (control.kind == ControlSpec::Kind::ProgressBar) {
            auto* bar = new QProgressBar(this);
            bar->setRange(0, 100);  // a new Windows bar's range
            bar->setValue(0);
            bar->setTextVisible(false);
            widget = bar;
        } else {
            auto* label = new QLabel(this);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment((control.centred ? Qt::AlignHCenter : Qt::AlignLeft) |
                                Qt::AlignTop);
            widget = label;
        }
        // Controls made at run time get no font of their own, so they show
        // in the desktop's default font rather than the dialog's.
        widget->setFont(QApplication::font());
        widget->setProperty("controlId", control.id);
        widget->setGeometry(control.rect.left, control.rect.top, control.rect.width(),
                            control.rect.height());
        widget->hide();
        m_items[control.id] = widget;
        if (!control.text.empty()) {
            setItemText(control.id, control.text);
        }
    });
}

void QtDialogWindow::reportTemplatePosition(bool report) {
    onGuiThread([&] { m_reportTemplatePosition = report; });
}

Rect QtDialogWindow::windowRect() {
    return onGuiThread([&] {
        QRect frame = frameGeometry();
        if (m_reportTemplatePosition) {
            frame.moveTopLeft(m_templatePosition);
        }
        return Rect{frame.left(), frame.top(), frame.left() + frame.width(),
                    frame.top() + frame.height()};
    });
}

int QtDialogWindow::dpi() {
    // The dpi the window's fonts are sized by: QT_FONT_DPI or the
    // desktop's, in the window's own (device-independent) pixels.
    return onGuiThread([&] { return logicalDpiY(); });
}

void QtDialogWindow::moveWindow(const Rect& rect, bool /*repaint*/) {
    onGuiThread([&] {
        // The rectangle is the whole window; Qt places the client area. The
        // frame is what the window manager adds, nothing where there is
        // none (offscreen, a bare X server).
        const QRect frame = frameGeometry();
        const QRect client = geometry();
        const int left = client.left() - frame.left();
        const int top = client.top() - frame.top();
        const int right = frame.width() - client.width() - left;
        const int bottom = frame.height() - client.height() - top;
        const QSize size(std::max(0, rect.width() - left - right),
                         std::max(0, rect.height() - top - bottom));
        // The frame is a modal frame: the user cannot resize the window.
        setFixedSize(size);
        setGeometry(QRect(QPoint(rect.left + left, rect.top + top), size));
    });
}

void QtDialogWindow::setTimer(int id, uint32_t periodMs) {
    onGuiThread([&] {
        QTimer*& timer = m_timers[id];
        if (timer == nullptr) {
            timer = new QTimer(this);
            connect(timer, &QTimer::timeout, this, [this, id] {
                deliver({DialogEvent::Timer, id});
            });
        }
        // Setting a running timer again restarts it with the new period.
        timer->start(static_cast<int>(periodMs));
    });
}

void QtDialogWindow::killTimer(int id) {
    onGuiThread([&] {
        if (const auto found = m_timers.find(id); found != m_timers.end()) {
            found->second->stop();
        }
    });
}

void QtDialogWindow::setIcon(int iconId, bool /*big*/) {
    // One icon holds every size; the window manager picks the big and the
    // small one from it.
    onGuiThread([&] { setWindowIcon(iconResource(iconId)); });
}

void QtDialogWindow::invoke(const std::function<void()>& task) {
    onGuiThread(task);
}

}  // namespace qor
