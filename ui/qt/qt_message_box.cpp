// Message boxes as the dialog raises them: owned by the dialog, with the
// icon and the stay-on-top flag of their type.
//
// A box raised on the GUI thread runs its own event loop there (exec), as a
// Windows message box does. A worker's box must not: a second worker's box
// would start a loop nested in the first, and the first could not return
// before the second was answered. So a worker's box is shown without a loop
// of its own and the worker waits on a future that the box's answer
// fulfils; any number of them can be open at once, each holding back only
// the worker that raised it.

#include <QMessageBox>
#include <atomic>
#include <future>
#include <memory>

#include "ui/qt/gui_thread.h"
#include "ui/qt/qt_dialog_window.h"
#include "ui/qt/qt_text.h"

namespace qor {

namespace {

constexpr int kIdOk = 1;

constexpr uint32_t kIconMask = 0xF0;
constexpr uint32_t kIconError = 0x10;
constexpr uint32_t kIconQuestion = 0x20;
constexpr uint32_t kIconWarning = 0x30;
constexpr uint32_t kIconInformation = 0x40;
constexpr uint32_t kTopmost = 0x40000;

QMessageBox::Icon iconFor(uint32_t type) {
    switch (type & kIconMask) {
        case kIconError:
            return QMessageBox::Critical;
        case kIconQuestion:
            return QMessageBox::Question;
        case kIconWarning:
            return QMessageBox::Warning;
        case kIconInformation:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

// The dialog only ever asks for an OK button; whatever ends the box
// (OK, Escape, its close box) answers OK, as it does on Windows.
QMessageBox* makeBox(QWidget* owner, const QString& text, const QString& title, uint32_t type) {
    auto* box = new QMessageBox(iconFor(type), title, text, QMessageBox::Ok, owner);
    // Modal to the dialog that owns it, not to the other boxes: two workers'
    // boxes can both be answered in any order. (This sets the box's window
    // flags afresh, so the flags come after it.)
    box->setWindowModality(Qt::WindowModal);
    if ((type & kTopmost) != 0) {
        box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }
    return box;
}

// The answer a worker waits for; given once, by whichever comes first.
struct BoxAnswer {
    std::promise<int> promise;
    std::atomic<bool> given{false};

    void give(int button) {
        if (!given.exchange(true)) {
            promise.set_value(button);
        }
    }
};

}  // namespace

int QtDialogWindow::messageBox(std::string_view text, std::string_view title, uint32_t type) {
    const QString shownText = displayText(text);
    const QString shownTitle = displayText(title);
    if (QThread::currentThread() == thread()) {
        return showBoxHere(shownText, shownTitle, type);
    }
    return showBoxForWorker(shownText, shownTitle, type);
}

int QtDialogWindow::showBoxHere(const QString& text, const QString& title, uint32_t type) {
    std::unique_ptr<QMessageBox> box(makeBox(this, text, title, type));
    box->exec();
    return kIdOk;
}

int QtDialogWindow::showBoxForWorker(const QString& text, const QString& title, uint32_t type) {
    auto answer = std::make_shared<BoxAnswer>();
    std::future<int> answered = answer->promise.get_future();
    runOnThreadOf(this, [&] {
        QMessageBox* box = makeBox(this, text, title, type);
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QMessageBox::finished, box, [answer](int) { answer->give(kIdOk); });
        // A box that goes without an answer (its owner destroyed) must not
        // leave its worker waiting forever; Windows returns 0 for a box
        // that could not be shown.
        connect(box, &QObject::destroyed, [answer] { answer->give(0); });
        box->show();
    });
    return answered.get();
}

}  // namespace qor
