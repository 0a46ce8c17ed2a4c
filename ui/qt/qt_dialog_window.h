#pragma once

#include <QDialog>
#include <QFont>
#include <QString>
#include <map>
#include <string>

#include "ui/cqor_dlg.h"
#include "ui/dialog_template.h"
#include "ui/qt/dialog_units.h"
#include "ui/window.h"

class QTimer;

namespace qor {

// The main dialog's window in Qt Widgets. It has no behaviour of its own:
// it builds the controls from the template, carries out the dialog's
// Window calls on the GUI thread and hands clicks, ticks, painting and the
// end of the window to the dialog's message map.
class QtDialogWindow final : public QDialog, public Window {
    Q_OBJECT

  public:
    explicit QtDialogWindow(CQorDlg& dialog, const DialogTemplate& dialogTemplate);
    ~QtDialogWindow() override;

    // The control with resource id `id`, or null.
    QWidget* item(int id) const;
    DialogBaseUnits baseUnits() const { return m_baseUnits; }
    // The template's client area in pixels.
    QSize templateClientSize() const { return m_templateClientSize; }

    // Window.
    void setItemText(int id, std::string_view text) override;
    std::string itemText(int id) override;
    void enableItem(int id, bool enabled) override;
    void showItem(int id, bool visible) override;
    int checkedRadioButton(int first, int last) override;
    void checkRadioButton(int first, int last, int id) override;
    void addComboString(int id, std::string_view text) override;
    void resetCombo(int id) override;
    void setComboSelection(int id, int index) override;
    int comboSelection(int id) override;
    void setPicture(int id, int bitmapId) override;
    void setProgressRange(int id, uint16_t minimum, uint16_t maximum) override;
    void setProgressPos(int id, int position) override;
    void createControl(const ControlSpec& control) override;
    Rect windowRect() override;
    int dpi() override;
    void moveWindow(const Rect& rect, bool repaint) override;
    void setTimer(int id, uint32_t periodMs) override;
    void killTimer(int id) override;
    void setIcon(int iconId, bool big) override;
    int messageBox(std::string_view text, std::string_view title, uint32_t type) override;
    std::optional<std::string> openFileDialog(const OpenFileRequest& request) override;
    void invoke(const std::function<void()>& task) override;

    // Delivers the end of the window to the dialog (its WM_DESTROY).
    void deliverDestroy();

    // While set, windowRect() reports the window at the template's position
    // with its frame's size, wherever the window manager has put it: the
    // dialog places its device rows from the rectangle it reads while it
    // initialises and counts on the window standing there, as it does on
    // Windows. Desktops with a top bar never put a window at the top edge.
    void reportTemplatePosition(bool report);

  public slots:
    // The user asks to close (Escape, the close box): refused while an
    // update run is open, as its workers still use the dialog.
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void layOut(const DialogTemplate& dialogTemplate);
    QWidget* makeControl(const ControlTemplate& control);
    void setTabOrder(const DialogTemplate& dialogTemplate);
    void deliver(const DialogMessage& message);
    // Asks the dialog; false while an update run is open.
    bool closeAccepted();
    int showBoxHere(const QString& text, const QString& title, uint32_t type);
    int showBoxForWorker(const QString& text, const QString& title, uint32_t type);
    template <typename Task>
    auto onGuiThread(Task&& task);

    CQorDlg& m_dialog;
    DialogBaseUnits m_baseUnits;
    QSize m_templateClientSize;
    QPoint m_templatePosition;
    bool m_reportTemplatePosition = false;
    std::map<int, QWidget*> m_items;
    std::map<int, QTimer*> m_timers;
};

}  // namespace qor
