#include "tests/ui/qt/qt_dialog_fixture.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "ui/qt/qt_dialog_host.h"

namespace qor::testing {

bool processEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

std::vector<QMessageBox*> openMessageBoxes() {
    std::vector<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
            boxes.push_back(box);
        }
    }
    return boxes;
}

QFileDialog* openFileDialog() {
    return qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
}

void enterFileName(QFileDialog& dialog, const QString& name) {
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(name);
    QTest::keyClick(edit, Qt::Key_Return);
}

void answerNextFileDialog(const QString& name, std::function<bool()> ready) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, name, ready = std::move(ready)] {
        if (QFileDialog* dialog = openFileDialog();
            dialog != nullptr && dialog->isVisible() && (!ready || ready())) {
            poll->stop();
            poll->deleteLater();
            enterFileName(*dialog, name);
        }
    });
    poll->start(10);
}

QtDialogFixture::~QtDialogFixture() {
    if (!m_window) {
        return;
    }
    // A test that failed half-way may leave boxes open and workers running;
    // they use the dialog until their run closes.
    processEventsUntil([&] {
        for (QMessageBox* box : openMessageBoxes()) {
            box->done(QMessageBox::Ok);
        }
        return m_dialog->canClose();
    });
    m_window->deliverDestroy();
    m_window.reset();
}

void QtDialogFixture::open(Services& services) {
    m_dialog = std::make_unique<CQorDlg>(m_state, services);
    m_window = QtDialogHost::open(*m_dialog);
}

void QtDialogFixture::click(int id) {
    QWidget* widget = m_window->item(id);
    const QPoint where = qobject_cast<QRadioButton*>(widget) != nullptr
                             ? QPoint(8, widget->height() / 2)
                             : widget->rect().center();
    QTest::mouseClick(widget, Qt::LeftButton, {}, where);
}

}  // namespace qor::testing
