#include "app/demo/driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

#include "ui/qt/gui_thread.h"
#include "ui/qt/qt_dialog_window.h"
#include "ui/resource_ids.h"

namespace qor::demo {

namespace {

using namespace std::chrono_literals;

constexpr auto kStepTimeout = 90s;

template <typename Task>
auto onGui(Task&& task) {
    return runOnThreadOf(qApp, std::forward<Task>(task));
}

// Asks the GUI thread `done` every 50 ms until it holds; false at once when
// `gone` holds (the user closed the window).
bool waitFor(
    const char* what, const std::function<bool()>& done,
    const std::function<bool()>& gone = [] { return false; }) {
    const auto deadline = std::chrono::steady_clock::now() + kStepTimeout;
    while (!onGui([&] { return !gone() && done(); })) {
        if (onGui(gone)) {
            std::fprintf(stderr, "demo: the window was closed\n");
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "demo: gave up waiting for %s\n", what);
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

QtDialogWindow* mainWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<QtDialogWindow*>(widget)) {
            return window;
        }
    }
    return nullptr;
}

template <typename Widget>
Widget* openModal() {
    return qobject_cast<Widget*>(QApplication::activeModalWidget());
}

// A click as the user makes it; a radio button is clicked on its indicator.
void click(QWidget* widget) {
    const QPoint where = qobject_cast<QAbstractButton*>(widget) != nullptr &&
                                 widget->metaObject()->className() == QByteArray("QRadioButton")
                             ? QPoint(8, widget->height() / 2)
                             : widget->rect().center();
    QTest::mouseClick(widget, Qt::LeftButton, {}, where);
}

class Driver {
  public:
    Driver(const DemoPlan& plan, AppState& state) : m_plan(plan), m_state(state) {}

    bool run() {
        if (!waitFor("the window", [&] {
                m_window = mainWindow();
                return m_window != nullptr && m_window->isVisible() && m_window->isEnabled();
            })) {
            return false;
        }
        const int templateHeight = onGui([&] { return m_window->frameGeometry().height(); });
        screenshot("1-idle");

        // The button is only clicked once it is enabled and the radio
        // button once it is shown; a click goes through the event loop as
        // the user's would and returns before its handler's dialogs close.
        post([this] {
            if (m_window != nullptr) {
                click(m_window->item(IDC_RADIO_USB));
            }
        });
        if (!waitFor(
                "the imagers to be counted",
                [&] {
                    return m_state.DeviceCount == m_plan.expectedDevices &&
                           m_window->item(IDC_UPDATE)->isEnabled();
                },
                gone())) {
            return false;
        }
        screenshot("2-usb-mode");

        post([this] {
            if (m_window != nullptr) {
                click(m_window->item(IDC_UPDATE));
            }
        });
        if (!waitFor(
                "the file dialog", [] { return openModal<QFileDialog>() != nullptr; }, gone())) {
            return false;
        }
        onGui([&] {
            if (QFileDialog* dialog = openModal<QFileDialog>()) {
                chooseFile(*dialog);
            }
        });
        screenshot("3-file-chosen");
        onGui([] {
            if (QFileDialog* dialog = openModal<QFileDialog>()) {
                QTest::keyClick(dialog, Qt::Key_Return);
            }
        });

        if (!waitFor(
                "the transfer to be half-way",
                [&] {
                    auto* bar = qobject_cast<QProgressBar*>(m_window->item(progressBarId(0)));
                    return bar->isVisible() && bar->maximum() > 0 &&
                           bar->value() * 2 >= bar->maximum();
                },
                gone())) {
            return false;
        }
        screenshot("4-running");

        if (!waitFor(
                "the success box", [] { return openModal<QMessageBox>() != nullptr; }, gone())) {
            return false;
        }
        std::this_thread::sleep_for(300ms);  // let it be drawn
        screenshot("5-done");
        post([] {
            if (QMessageBox* box = openModal<QMessageBox>()) {
                click(box->button(QMessageBox::Ok));
            }
        });

        const bool restored = waitFor(
            "the window to shrink back",
            [&] {
                return m_window->frameGeometry().height() == templateHeight &&
                       openModal<QMessageBox>() == nullptr;
            },
            gone());
        std::this_thread::sleep_for(300ms);
        screenshot("6-after");
        return restored;
    }

    // Closes the window. After a failure a run may still be open, and the
    // window refuses to close until it ends: every box that comes up is
    // answered meanwhile. A demo that cannot end is ended outright.
    void close() {
        const auto deadline = std::chrono::steady_clock::now() + kStepTimeout;
        while (onGui([this] {
            if (QMessageBox* box = openModal<QMessageBox>()) {
                box->done(QMessageBox::Ok);
            } else if (m_window != nullptr) {
                m_window->close();
            }
            return m_window != nullptr && m_window->isVisible();
        })) {
            if (std::chrono::steady_clock::now() > deadline) {
                std::fprintf(stderr, "demo: the window would not close\n");
                std::_Exit(1);
            }
            std::this_thread::sleep_for(100ms);
        }
    }

    void screenshot(const char* name) {
        onGui([&] {
            const QString path = QDir(m_plan.screenshotDir)
                                     .filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
            QScreen* screen = QGuiApplication::primaryScreen();
            if (screen != nullptr && screen->grabWindow(0).save(path)) {
                std::printf("demo: %s\n", qPrintable(path));
                std::fflush(stdout);
            }
        });
    }

  private:
    std::function<bool()> gone() const {
        return [this] { return m_window.isNull(); };
    }

    // Posts `task` to the GUI thread without waiting for it: a click whose
    // handler opens a modal dialog returns only when that dialog closes.
    void post(std::function<void()> task) {
        QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
    }

    // Types the image's name, as the user would: just the name when the
    // dialog already shows its folder.
    void chooseFile(QFileDialog& dialog) {
        const QFileInfo image(m_plan.firmwarePath);
        const QString typed = QDir(dialog.directory()).absolutePath() == image.absolutePath()
                                  ? image.fileName()
                                  : image.absoluteFilePath();
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (name == nullptr) {
            dialog.selectFile(typed);
            return;
        }
        name->setFocus();
        name->clear();
        QTest::keyClicks(name, typed);
    }

    DemoPlan m_plan;
    AppState& m_state;
    // Read and written on the GUI thread only; null once the window is gone.
    QPointer<QtDialogWindow> m_window;
};

}  // namespace

int driveOneUsbRun(const DemoPlan& plan, AppState& state) {
    Driver driver(plan, state);
    const bool ok = driver.run();
    if (!ok) {
        driver.screenshot("failed");
    }
    driver.close();
    return ok ? 0 : 1;
}

}  // namespace qor::demo
