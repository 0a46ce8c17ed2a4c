#pragma once

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QMessageBox>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "tests/support/scoped_env.h"
#include "ui/app_state.h"
#include "ui/cqor_dlg.h"
#include "ui/qt/qt_dialog_window.h"
#include "update/services.h"

namespace qor::testing {

// Runs the GUI thread's events until `done` holds; false after `timeoutMs`.
bool processEventsUntil(const std::function<bool()>& done, int timeoutMs = 60000);

// The message boxes on screen, oldest first.
std::vector<QMessageBox*> openMessageBoxes();

// The open-file dialog when it is the active modal window, or null.
QFileDialog* openFileDialog();

// Enters `name` in the file dialog's name box and presses Return. The name
// is set rather than typed: typing opens the name completer's popup, which
// would take the Return key.
void enterFileName(QFileDialog& dialog, const QString& name);

// Answers the next open-file dialog with `name` as soon as it is up and
// `ready` (when given) holds. The dialog runs its own event loop inside the
// click's handler, so the answer has to come from an event of that loop.
void answerNextFileDialog(const QString& name, std::function<bool()> ready = {});

// The real dialog in the Qt window, opened as the program opens it.
class QtDialogFixture : public ::testing::Test {
  protected:
    QtDialogFixture() = default;
    ~QtDialogFixture() override;

    // `services` must outlive the fixture's window.
    void open(Services& services);

    QtDialogWindow& window() { return *m_window; }
    CQorDlg& dialog() { return *m_dialog; }
    template <typename Widget>
    Widget* item(int id) {
        return qobject_cast<Widget*>(m_window->item(id));
    }
    // A click with the mouse, on a radio button's indicator.
    void click(int id);

    ScopedEnv m_language{"LANGUAGE", "en_US"};
    AppState m_state;

  private:
    std::unique_ptr<CQorDlg> m_dialog;
    std::unique_ptr<QtDialogWindow> m_window;
};

}  // namespace qor::testing
