// How the host carries out the dialog's calls: workers' calls on the GUI
// thread, the poll timer there, message boxes that do not hold each other
// back, and the open-file dialog's rules.

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QRadioButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>

#include "tests/support/scripted_services.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/qt/qt_dialog_fixture.h"
#include "tools/testkit/sample_image.h"
#include "ui/qt/firmware_file_dialog.h"
#include "ui/resource_ids.h"

namespace qor::testing {
namespace {

class QtHost : public QtDialogFixture {
  protected:
    void SetUp() override { open(m_services); }
    ScriptedServices m_services;
};

TEST_F(QtHost, WorkersCallsRunOnTheGuiThreadAndReturnWhenDone) {
    std::atomic<bool> ranOnGuiThread{false};
    std::atomic<bool> done{false};
    std::string textSeen;
    std::thread worker([&] {
        window().setItemText(rowLabelId(2), "Connect to ttyACM2 ");
        window().showItem(rowLabelId(2), true);
        window().invoke([&] { ranOnGuiThread = QThread::currentThread() == qApp->thread(); });
        // Synchronous: the change is there when the call returns.
        textSeen = window().itemText(rowLabelId(2));
        done = true;
    });
    ASSERT_TRUE(processEventsUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnGuiThread);
    EXPECT_EQ(textSeen, "Connect to ttyACM2 ");
    EXPECT_TRUE(window().item(rowLabelId(2))->isVisible());
}

TEST_F(QtHost, PollTimerStartedByAWorkerTicksOnTheGuiThread) {
    std::atomic<bool> started{false};
    std::thread worker([&] {
        window().setTimer(kPollTimerId, kPollPeriodMs);
        started = true;
    });
    ASSERT_TRUE(processEventsUntil([&] { return started.load(); }));
    worker.join();
    // Nothing is attached, so the first tick of the poll says so.
    EXPECT_TRUE(
        processEventsUntil([&] { return window().itemText(IDC_INFO) == "  Disconnected"; }, 5000));
    window().killTimer(kPollTimerId);
}

TEST_F(QtHost, TwoWorkersBoxesAreOpenAtOnceAndAnsweredInAnyOrder) {
    std::atomic<int> first{-1};
    std::atomic<int> second{-1};
    std::thread one([&] { first = window().messageBox("Connect Failed", "", 0x40010); });
    std::thread two([&] { second = window().messageBox("Upate Failed", "", 0x40010); });
    ASSERT_TRUE(processEventsUntil([] { return openMessageBoxes().size() == 2; }));
    for (QMessageBox* box : openMessageBoxes()) {
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        EXPECT_TRUE(box->windowTitle().isEmpty());
        EXPECT_TRUE(box->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_EQ(box->parentWidget(), &window());
        EXPECT_NE(box->windowModality(), Qt::NonModal);
    }
    // The box opened last is answered first; the other worker still waits.
    QMessageBox* last = openMessageBoxes().back();
    const bool lastIsFirst = last->text() == QStringLiteral("Connect Failed");
    QTest::mouseClick(last->button(QMessageBox::Ok), Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return (lastIsFirst ? first : second) == 1; }));
    EXPECT_EQ((lastIsFirst ? second : first).load(), -1);
    ASSERT_EQ(openMessageBoxes().size(), 1u);
    QTest::mouseClick(openMessageBoxes().front()->button(QMessageBox::Ok), Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return first == 1 && second == 1; }));
    one.join();
    two.join();
}

TEST_F(QtHost, BoxOnTheGuiThreadRunsItsOwnLoopAndShowsItsIcon) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(processEventsUntil([] { return openMessageBoxes().size() == 1; }));
        icon = openMessageBoxes().front()->icon();
        openMessageBoxes().front()->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(window().messageBox("The updates were successfully installed", "", 0x40040), 1);
    EXPECT_EQ(icon, QMessageBox::Information);
}

// Real clicks on the main button and a radio button, made while the USB port
// check holds the GUI thread and delivered when it returns to the event loop.
TEST_F(QtHost, ClicksQueuedDuringThePortCheckAreIgnoredUntilTheRunCloses) {
    const std::u16string list = u"SYSTEM\\CurrentControlSet\\Services\\usbser\\Enum";
    FakeRegistry& registry = m_services.fakeRegistry();
    const std::vector<std::string> ports = {"COM3", "COM4"};
    for (int i = 0; i < 2; ++i) {
        const std::u16string instance = u"USB\\VID_3C7B&PID_0E52\\SN" + std::u16string(1, u'0' + i);
        registry.addString(list, std::u16string(1, u'0' + i), instance);
        registry.addString(u"SYSTEM\\CurrentControlSet\\Enum\\" + instance + u"\\Device Parameters",
                           u"PortName", std::u16string(ports[i].begin(), ports[i].end()));
        m_services.line(ports[i], i);  // opens, never answers
    }
    m_services.line("COM1", Services::kUiThread);
    click(IDC_RADIO_USB);
    ASSERT_TRUE(processEventsUntil(
        [&] { return window().itemText(IDC_INFO) == "  2 Devices Connected"; }, 10000));

    // A second file dialog would be a second run starting; it is counted
    // and cancelled rather than left to block the test.
    int laterFileDialogs = 0;
    QTimer refuser;
    QObject::connect(&refuser, &QTimer::timeout, [&] {
        if (QFileDialog* dialog = openFileDialog(); dialog != nullptr && dialog->isVisible()) {
            ++laterFileDialogs;
            dialog->reject();
        }
    });
    bool queued = false;
    bool clicked = false;
    registry.onRead([&](std::u16string_view path, uint32_t) {
        if (path != list && !queued) {
            queued = true;
            QTimer::singleShot(0, &window(), [&] {
                refuser.start(10);
                click(IDC_UPDATE);
                click(IDC_RADIO_RS232);
                click(IDC_UPDATE);
                clicked = true;
            });
        }
    });
    TempDir files;
    answerNextFileDialog(
        QString::fromStdString(files.write("fw.bin", sim::sampleImage(4096)).string()));
    click(IDC_UPDATE);

    ASSERT_TRUE(processEventsUntil([&] { return clicked; }));
    EXPECT_EQ(laterFileDialogs, 0);
    EXPECT_TRUE(item<QRadioButton>(IDC_RADIO_USB)->isChecked());
    ASSERT_TRUE(processEventsUntil([] { return openMessageBoxes().size() == 2; }));
    EXPECT_FALSE(dialog().canClose());
    for (QMessageBox* box : openMessageBoxes()) {
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    }
    ASSERT_TRUE(processEventsUntil([&] { return dialog().canClose(); }));
    EXPECT_TRUE(m_services.line("COM1", Services::kUiThread).openedBauds().empty());
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(m_services.line(ports[i], i).openedBauds().size(), 1u) << ports[i];
    }
    registry.onRead({});
}

TEST(QtNameFilter, WindowsPatternsBecomeQtPatterns) {
    EXPECT_EQ(qtNameFilter("FW File ", "*.*"), QStringLiteral("FW File  (*)"));
    EXPECT_EQ(qtNameFilter("Images", "*.bin;*.img"), QStringLiteral("Images (*.bin *.img)"));
}

// The open-file dialog as the update flow asks for it: answered by `answer`
// once it is up.
class QtFileDialog : public QtHost {
  protected:
    std::optional<std::string> runDialog(const std::string& initialPath,
                                         const std::function<void(QFileDialog&)>& answer) {
        OpenFileRequest request;
        request.filterName = "FW File ";
        request.filterSpec = "*.*";
        request.initialPath = initialPath;
        request.flags = 0x080A;
        request.maxPathLength = 260;
        QTimer::singleShot(0, [&] {
            ASSERT_TRUE(processEventsUntil([] { return openFileDialog() != nullptr; }));
            answer(*openFileDialog());
        });
        return window().openFileDialog(request);
    }

    TempDir m_files;
};

TEST_F(QtFileDialog, StartsAtThePreviousChoiceWithTheFirmwareFilter) {
    const std::string previous = m_files.write("old.bin", "x").string();
    QString directory;
    QStringList filters;
    const auto chosen = runDialog(previous, [&](QFileDialog& dialog) {
        directory = dialog.directory().absolutePath();
        filters = dialog.nameFilters();
        dialog.reject();
    });
    EXPECT_FALSE(chosen.has_value()) << "cancelled";
    EXPECT_EQ(directory, QString::fromStdString(m_files.path().string()));
    // Qt folds the name's trailing blank into the one before the patterns.
    EXPECT_EQ(filters, QStringList{QStringLiteral("FW File (*)")});
}

TEST_F(QtFileDialog, TakesATypedNameOfAFileThatDoesNotExist) {
    const std::string missing = (m_files / "not-there.bin").string();
    const auto chosen = runDialog(
        "", [&](QFileDialog& dialog) { enterFileName(dialog, QString::fromStdString(missing)); });
    EXPECT_EQ(chosen, missing);
}

TEST_F(QtFileDialog, RefusesAFolderThatDoesNotExist) {
    const QString missing = QString::fromStdString((m_files / "no-such-folder/fw.bin").string());
    bool stayedOpen = false;
    bool warned = false;
    const auto chosen = runDialog("", [&](QFileDialog& dialog) {
        QTimer::singleShot(0, [&] {
            ASSERT_TRUE(processEventsUntil([] { return !openMessageBoxes().empty(); }));
            warned = true;
            openMessageBoxes().front()->done(QMessageBox::Ok);
        });
        enterFileName(dialog, missing);
        stayedOpen = dialog.isVisible();
        dialog.reject();
    });
    EXPECT_TRUE(warned);
    EXPECT_TRUE(stayedOpen);
    EXPECT_FALSE(chosen.has_value());
}

}  // namespace
}  // namespace qor::testing
