// Whole runs through the real Qt event loop: the dialog in its Qt window,
// the system's services in real time, simulated imagers found through a
// fake sysfs tree and reached through a folder of port links.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <memory>

#include "tests/support/fake_sysfs.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/qt/qt_dialog_fixture.h"
#include "tools/imager_sim/simulator.h"
#include "tools/testkit/sample_image.h"
#include "ui/resource_ids.h"

namespace qor::testing {
namespace {

using sim::expectedWire;
using sim::sampleImage;

class QtUpdateRun : public QtDialogFixture {
  protected:
    QtUpdateRun() { std::filesystem::create_directories(m_ports.path()); }

    // Two imagers behind ttyACM0 and ttyACM1, then the window.
    void start(const sim::ImagerOptions& options) {
        for (int n = 0; n < 2; ++n) {
            m_imagers.push_back(std::make_unique<sim::ImagerSimulator>(options));
            ASSERT_TRUE(m_imagers.back()->start());
            const std::string tty = "ttyACM" + std::to_string(n);
            m_sysfs.addImager("1-" + std::to_string(n + 1), tty, "Q10" + std::to_string(n));
            std::filesystem::create_symlink(m_imagers.back()->portPath(), m_ports / tty);
        }
        m_services = std::make_unique<SystemServices>();
        open(*m_services);
    }

    // USB mode, both imagers counted, then "Browse.." and the image chosen.
    void startRun(const std::string& image) {
        click(IDC_RADIO_USB);
        ASSERT_TRUE(processEventsUntil(
            [&] { return window().itemText(IDC_INFO) == "  2 Devices Connected"; }, 10000));
        answerNextFileDialog(QString::fromStdString(image));
        click(IDC_UPDATE);
    }

    TempDir m_ports;
    TempDir m_files;
    FakeSysfs m_sysfs;
    ScopedEnv m_sysfsRoot{"QOR_SYSFS_ROOT", m_sysfs.root().string()};
    ScopedEnv m_portDir{"QOR_PORT_DIR", m_ports.path().string()};
    std::vector<std::unique_ptr<sim::ImagerSimulator>> m_imagers;
    std::unique_ptr<SystemServices> m_services;
};

TEST_F(QtUpdateRun, TwoImagersAreUpdatedAndTheWindowComesBackToItsSize) {
    sim::ImagerOptions options;
    options.block_delay_ms = 2;  // long enough to see the rows at work
    start(options);
    const Rect before = window().windowRect();
    const std::vector<uint8_t> image = sampleImage(64 * 1024);
    startRun(m_files.write("fw.bin", image).string());

    ASSERT_TRUE(processEventsUntil([&] {
        return window().item(progressBarId(1))->isVisible() &&
               window().item(progressBarId(0))->isVisible();
    }));
    EXPECT_EQ(window().windowRect().height(), before.height() + 120);
    for (int id : {3, 12}) {
        EXPECT_FALSE(window().item(id)->isVisible()) << id;
    }

    ASSERT_TRUE(processEventsUntil([] { return openMessageBoxes().size() == 1; }));
    QMessageBox* success = openMessageBoxes().front();
    EXPECT_EQ(success->text(), QStringLiteral("The updates were successfully installed"));
    EXPECT_EQ(success->icon(), QMessageBox::Information);
    EXPECT_FALSE(dialog().canClose()) << "the run is open while its box is";
    QTest::mouseClick(success->button(QMessageBox::Ok), Qt::LeftButton);

    ASSERT_TRUE(processEventsUntil([&] { return dialog().canClose(); }));
    EXPECT_EQ(window().windowRect(), before);
    EXPECT_EQ(window().geometry().size(), window().templateClientSize());
    for (int id : {1, 2, 10, 11}) {
        EXPECT_FALSE(window().item(id)->isVisible()) << id;
    }
    EXPECT_TRUE(item<QPushButton>(IDC_UPDATE)->text() == QStringLiteral("Browse.."));
    for (const auto& imager : m_imagers) {
        EXPECT_TRUE(imager->record().run.completed);
        EXPECT_EQ(imager->received(), expectedWire(image));
    }
}

TEST_F(QtUpdateRun, FailingWorkersBoxesAreOpenTogether) {
    sim::ImagerOptions options;
    options.header_reply = sim::Reply::kNack;
    start(options);
    startRun(m_files.write("fw.bin", sampleImage(4 * 1024)).string());

    // Neither worker's box waits for the other's to be answered.
    ASSERT_TRUE(processEventsUntil([] { return openMessageBoxes().size() == 2; }));
    for (QMessageBox* box : openMessageBoxes()) {
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
    }
    EXPECT_FALSE(dialog().canClose());
    window().close();
    EXPECT_TRUE(window().isVisible()) << "a window with an open run stays";

    for (QMessageBox* box : openMessageBoxes()) {
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    }
    ASSERT_TRUE(processEventsUntil([&] { return dialog().canClose(); }));
    EXPECT_TRUE(openMessageBoxes().empty()) << "no success box after a failure";
}

// The RS-232 road through the same window, to an imager behind a USB-serial
// adapter: listed after COM20, chosen, then the connect's baud-rate scan on
// the GUI thread, the file dialog and the one worker.
TEST_F(QtUpdateRun, Rs232ImagerBehindAUsbAdapterIsListedFoundAt57600AndUpdated) {
    sim::ImagerOptions options;
    options.rs232_baud = 57600;
    sim::ImagerSimulator imager(options);
    ASSERT_TRUE(imager.start());
    m_sysfs.addUsbSerialTty(m_sysfs.addUsbDevice("1-4", "0403", "6001", "FT1"), "ttyUSB0",
                            "ftdi_sio");
    std::filesystem::create_symlink(imager.portPath(), m_ports / "ttyUSB0");
    m_services = std::make_unique<SystemServices>();
    open(*m_services);
    const Rect before = window().windowRect();
    auto* ports = item<QComboBox>(IDC_COMBO_PORT);
    ASSERT_EQ(ports->count(), 21);
    EXPECT_EQ(ports->itemText(19), QStringLiteral("COM20"));
    EXPECT_EQ(ports->itemText(20), QStringLiteral("ttyUSB0"));
    ports->setCurrentIndex(20);

    // A pty carries no line rate: the imager judges the last setup command
    // by the rate the line has when it reads it, so the file is chosen only
    // once it has, before the worker opens the line at 115200.
    answerNextFileDialog(
        QString::fromStdString(m_files.write("fw.bin", sampleImage(8 * 1024)).string()),
        [&] { return imager.record().update_mode; });
    click(IDC_UPDATE);
    ASSERT_TRUE(processEventsUntil([] { return openMessageBoxes().size() == 1; }));
    EXPECT_EQ(openMessageBoxes().front()->text(),
              QStringLiteral("The updates were successfully installed"));
    QTest::mouseClick(openMessageBoxes().front()->button(QMessageBox::Ok), Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return dialog().canClose(); }));
    EXPECT_EQ(window().windowRect(), before);
    EXPECT_TRUE(imager.record().update_mode);
    EXPECT_TRUE(imager.record().run.completed);
    EXPECT_EQ(item<QPushButton>(IDC_UPDATE)->text(), QStringLiteral("Connect"));
}

}  // namespace
}  // namespace qor::testing
