// The window as the template describes it and as initialisation leaves it,
// on the real widgets.

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <string>

#include "tests/support/scripted_services.h"
#include "tests/ui/qt/qt_dialog_fixture.h"
#include "ui/device_row.h"
#include "ui/dialog_template.h"
#include "ui/qt/qt_resources.h"
#include "ui/resource_ids.h"

namespace qor::testing {
namespace {

// Windows lays out its dialogs with these base units for "MS Shell Dlg"
// 8 pt at 96 dpi; the rounding below is what it gives there.
constexpr DialogBaseUnits kWindowsUnits{6, 13};

struct DluCase {
    const char* name;
    DluRect dialogUnits;
    QRect pixels;
};

class DialogUnits : public ::testing::TestWithParam<DluCase> {};

TEST_P(DialogUnits, RoundLikeWindows) {
    EXPECT_EQ(dialogUnitsToPixels(GetParam().dialogUnits, kWindowsUnits), GetParam().pixels);
}

INSTANTIATE_TEST_SUITE_P(Template, DialogUnits,
                         ::testing::Values(
                             // 219 * 6 / 4 = 328.5 and 169 * 13 / 8 = 274.6: both round up.
                             DluCase{"Dialog", {0, 0, 219, 169}, QRect(0, 0, 329, 275)},
                             // 99 * 13 / 8 = 160.9, 119 * 6 / 4 = 178.5, 30 * 13 / 8 = 48.75.
                             DluCase{"UpdateButton", {61, 99, 119, 30}, QRect(92, 161, 179, 49)},
                             // 9 * 13 / 8 = 14.6; 64 x 59 units are the 96 x 96 bitmap.
                             DluCase{"Picture", {84, 9, 64, 59}, QRect(126, 15, 96, 96)},
                             // 65 * 6 / 4 = 97.5 rounds away from zero; 10 * 13 / 8 = 16.25 down.
                             DluCase{"UsbRadio", {65, 78, 29, 10}, QRect(98, 127, 44, 16)}),
                         [](const auto& info) { return std::string(info.param.name); });

class QtLayout : public QtDialogFixture {
  protected:
    void SetUp() override { open(m_services); }
    ScriptedServices m_services;
};

TEST_F(QtLayout, EveryTemplateControlIsThereWithItsIdClassAndStyle) {
    for (const ControlTemplate& control : mainDialogTemplate().controls) {
        SCOPED_TRACE(control.name);
        QWidget* widget = window().item(control.id);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->objectName(), control.name);
        EXPECT_EQ(widget->property("controlId").toInt(), control.id);
        const bool tabStop = (control.style & control_style::kTabStop) != 0;
        EXPECT_EQ((widget->focusPolicy() & Qt::TabFocus) != 0, tabStop);
        switch (control.controlClass) {
            case ControlClass::PushButton: {
                auto* button = qobject_cast<QPushButton*>(widget);
                ASSERT_NE(button, nullptr);
                EXPECT_FALSE(button->isDefault());
                EXPECT_FALSE(button->autoDefault());
                break;
            }
            case ControlClass::Static: {
                auto* label = qobject_cast<QLabel*>(widget);
                ASSERT_NE(label, nullptr);
                const bool centred = (control.style & control_style::kCentred) != 0;
                EXPECT_EQ((label->alignment() & Qt::AlignHCenter) != 0, centred);
                EXPECT_TRUE(label->wordWrap());
                break;
            }
            case ControlClass::BitmapStatic:
                ASSERT_NE(qobject_cast<QLabel*>(widget), nullptr);
                break;
            case ControlClass::AutoRadioButton: {
                auto* radio = qobject_cast<QRadioButton*>(widget);
                ASSERT_NE(radio, nullptr);
                EXPECT_TRUE(radio->autoExclusive());
                break;
            }
            case ControlClass::DropDownList: {
                auto* combo = qobject_cast<QComboBox*>(widget);
                ASSERT_NE(combo, nullptr);
                EXPECT_FALSE(combo->isEditable());
                EXPECT_EQ(combo->view()->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
                break;
            }
        }
    }
}

// The window as the template makes it, before the dialog initialises it.
TEST(QtTemplate, TextsAndStatesAreTheTemplatesBeforeInitialisation) {
    ScriptedServices services;
    AppState state;
    CQorDlg dialog(state, services);
    QtDialogWindow window(dialog, mainDialogTemplate());
    for (const ControlTemplate& control : mainDialogTemplate().controls) {
        SCOPED_TRACE(control.name);
        QWidget* widget = window.item(control.id);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(window.itemText(control.id),
                  control.text != nullptr ? std::string(control.text) : std::string());
        EXPECT_EQ(widget->isEnabledTo(&window), (control.style & control_style::kDisabled) == 0);
        EXPECT_EQ(widget->isVisibleTo(&window), (control.style & control_style::kVisible) != 0);
    }
    EXPECT_EQ(window.item(IDC_PICTURE)->property("bitmapId").toInt(), IDB_BARCODE);
    EXPECT_EQ(window.item(IDC_PICTURE)->size(), QSize(96, 96));
    EXPECT_EQ(qobject_cast<QPushButton*>(window.item(IDC_UPDATE))->text(),
              QStringLiteral("Update"));
}

TEST_F(QtLayout, GeometryComesFromDialogUnitsOfTheDialogFont) {
    const QFont font = window().font();
    EXPECT_EQ(font.pointSize(), 8);
    const DialogBaseUnits units = window().baseUnits();
    EXPECT_EQ(units, dialogBaseUnits(font));
    EXPECT_EQ(window().geometry().size(),
              dialogUnitsToPixels(mainDialogTemplate().rect, units).size());

    for (const ControlTemplate& control : mainDialogTemplate().controls) {
        SCOPED_TRACE(control.name);
        const QRect expected = dialogUnitsToPixels(control.rect, units);
        const QRect actual = window().item(control.id)->geometry();
        switch (control.controlClass) {
            case ControlClass::BitmapStatic:
                // A bitmap static takes its bitmap's size.
                EXPECT_EQ(actual, QRect(expected.topLeft(), QSize(96, 96)));
                break;
            case ControlClass::DropDownList:
                // The template's height is the open list's.
                EXPECT_EQ(actual.topLeft(), expected.topLeft());
                EXPECT_EQ(actual.width(), expected.width());
                EXPECT_LT(actual.height(), expected.height());
                break;
            default:
                EXPECT_EQ(actual, expected);
        }
    }
}

TEST_F(QtLayout, TabOrderFollowsTheTemplate) {
    // The two tab stops, button first; Tab from the button reaches the list.
    QWidget* button = window().item(IDC_UPDATE);
    EXPECT_EQ(QApplication::focusWidget(), button) << "the first tab stop has the focus";
    QWidget* next = button->nextInFocusChain();
    while (next != nullptr && (next->focusPolicy() & Qt::TabFocus) == 0) {
        next = next->nextInFocusChain();
    }
    EXPECT_EQ(next, window().item(IDC_COMBO_PORT));
}

TEST_F(QtLayout, CaptionAndIcon) {
    EXPECT_EQ(window().windowTitle(), QStringLiteral("2D Imager Vantor - V3.7"));
    const QList<QSize> sizes = window().windowIcon().availableSizes();
    for (int size : {16, 32, 48}) {
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
    }
}

TEST_F(QtLayout, InitialisationLeavesRs232ModeOnTheWidgets) {
    auto* ports = item<QComboBox>(IDC_COMBO_PORT);
    ASSERT_EQ(ports->count(), 20);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(ports->itemText(i), QStringLiteral("COM%1").arg(i + 1));
    }
    EXPECT_EQ(ports->currentIndex(), 0);
    EXPECT_TRUE(ports->isEnabled());
    EXPECT_TRUE(item<QRadioButton>(IDC_RADIO_RS232)->isChecked());
    EXPECT_FALSE(item<QRadioButton>(IDC_RADIO_USB)->isChecked());
    auto* button = item<QPushButton>(IDC_UPDATE);
    EXPECT_EQ(button->text(), QStringLiteral("Connect"));
    EXPECT_TRUE(button->isEnabled());
    EXPECT_FALSE(item<QLabel>(IDC_STEP1)->isVisible());
    EXPECT_FALSE(item<QLabel>(IDC_STEP2)->isVisible());
    for (int row = 0; row < kMaxDeviceRows; ++row) {
        ASSERT_NE(item<QProgressBar>(progressBarId(row)), nullptr) << row;
        ASSERT_NE(item<QLabel>(rowLabelId(row)), nullptr) << row;
        EXPECT_FALSE(window().item(progressBarId(row))->isVisible()) << row;
        EXPECT_FALSE(window().item(rowLabelId(row))->isVisible()) << row;
        EXPECT_EQ(window().itemText(rowLabelId(row)), "Device: " + std::to_string(row + 1) + " ");
    }
    auto* picture = item<QLabel>(IDC_PICTURE);
    EXPECT_EQ(picture->property("bitmapId").toInt(), IDB_LOGO);
    EXPECT_EQ(picture->pixmap().toImage(), bitmapResource(IDB_LOGO).toImage());
    EXPECT_EQ(window().geometry().size(), window().templateClientSize());
}

TEST_F(QtLayout, StatusLineIsCentredAndStepTextsBreakAtCarriageReturns) {
    EXPECT_TRUE((item<QLabel>(IDC_INFO)->alignment() & Qt::AlignHCenter) != 0);
    EXPECT_EQ(window().itemText(IDC_STEP1), "Step 1:\r\rScan barcode to start update mode");
    EXPECT_EQ(item<QLabel>(IDC_STEP1)->text(),
              QStringLiteral("Step 1:\n\nScan barcode to start update mode"));
}

TEST_F(QtLayout, RowsNeverOverlapAndFitTheGrownWindow) {
    // The pitch is 60 pixels at 96 dpi; ctest runs this suite again at 144.
    const int pitch = scaledForDpi(kWindowGrowthPerDevice, window().dpi());
    const Rect original = window().windowRect();
    for (int devices = 1; devices <= kMaxDeviceRows; ++devices) {
        SCOPED_TRACE(devices);
        Rect grown = original;
        grown.bottom += pitch * devices;
        window().moveWindow(grown, true);
        EXPECT_EQ(window().windowRect().height(), original.height() + pitch * devices);

        std::vector<QRect> taken;
        for (int row = 0; row < devices; ++row) {
            for (int id : {progressBarId(row), rowLabelId(row)}) {
                const QWidget* control = window().item(id);
                const QRect rect = control->geometry();
                EXPECT_TRUE(window().rect().contains(rect)) << "control " << id;
                for (const QRect& other : taken) {
                    EXPECT_FALSE(rect.intersects(other)) << "control " << id;
                }
                taken.push_back(rect);
            }
            // The label holds a whole line of its font.
            const QWidget* label = window().item(rowLabelId(row));
            EXPECT_GE(label->height(), QFontMetrics(label->font()).height()) << row;
        }
        window().moveWindow(original, true);
        EXPECT_EQ(window().windowRect(), original);
        EXPECT_EQ(window().geometry().size(), window().templateClientSize());
    }
}

// Stands in for a desktop whose top bar keeps every window below it, as
// GNOME's and a KDE panel at the top do: a window shown or moved higher up
// is put back under the bar.
class TopBarStandIn final : public QObject {
  public:
    static constexpr int kBarHeight = 40;

  protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* window = qobject_cast<QtDialogWindow*>(object);
        if (window != nullptr && (event->type() == QEvent::Show || event->type() == QEvent::Move) &&
            window->frameGeometry().top() < kBarHeight) {
            ++refused;
            window->move(window->frameGeometry().left(), kBarHeight);
        }
        return false;
    }

  public:
    int refused = 0;
};

class QtLayoutUnderATopBar : public QtDialogFixture {
  protected:
    ScriptedServices m_services;
};

TEST_F(QtLayoutUnderATopBar, RowsArePlacedAsForAWindowAtTheOrigin) {
    TopBarStandIn bar;
    qApp->installEventFilter(&bar);
    open(m_services);
    qApp->removeEventFilter(&bar);
    ASSERT_GT(bar.refused, 0);

    // From the rectangle at the origin, frame included, as on Windows.
    const QSize frame = window().frameGeometry().size();
    for (int row = 0; row < kMaxDeviceRows; ++row) {
        const int top = frame.height() - 50 + row * 60;
        EXPECT_EQ(window().item(progressBarId(row))->geometry(),
                  QRect(10, top, frame.width() - 20, 25))
            << row;
        EXPECT_EQ(window().item(rowLabelId(row))->geometry(),
                  QRect(10, top + 30, frame.width() - 20, 20))
            << row;
    }
    // Once initialised, the rectangle is where the window is.
    EXPECT_EQ(window().windowRect().top, window().frameGeometry().top());
}

TEST_F(QtLayout, RowLabelsUseTheDesktopFontNotTheDialogs) {
    const QFont row = window().item(rowLabelId(0))->font();
    EXPECT_EQ(row.family(), QApplication::font().family());
    EXPECT_EQ(row.pointSizeF(), QApplication::font().pointSizeF());
    EXPECT_EQ(window().item(IDC_INFO)->font().pointSize(), 8);
}

class QtChineseLayout : public QtDialogFixture {
  protected:
    void SetUp() override { open(m_services); }
    ScopedEnv m_chinese{"LANGUAGE", "zh_CN"};
    ScriptedServices m_services;
};

TEST_F(QtChineseLayout, ChineseTextsUnderLanguage2052) {
    EXPECT_EQ(m_state.UiLanguage, 2052);
    EXPECT_EQ(item<QPushButton>(IDC_UPDATE)->text(), QString::fromUtf8(u8"连线"));
    EXPECT_TRUE(item<QLabel>(IDC_STEP2)->text().startsWith(QString::fromUtf8(u8"更新步骤二")));
    // Some installed font has the glyphs, or the texts would show as boxes.
    EXPECT_FALSE(QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty());
}

}  // namespace
}  // namespace qor::testing
