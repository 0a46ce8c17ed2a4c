#include "ui/qt/firmware_file_dialog.h"

#include <QFileInfo>
#include <QMessageBox>

#include "ui/qt/gui_thread.h"
#include "ui/qt/qt_dialog_window.h"
#include "ui/qt/qt_text.h"

namespace qor {

QString qtNameFilter(std::string_view name, std::string_view patterns) {
    QStringList qtPatterns;
    for (const QString& pattern :
         displayText(patterns).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString trimmed = pattern.trimmed();
        qtPatterns << (trimmed == QLatin1String("*.*") ? QStringLiteral("*") : trimmed);
    }
    return displayText(name) + QStringLiteral(" (") + qtPatterns.join(QLatin1Char(' ')) +
           QLatin1Char(')');
}

FirmwareFileDialog::FirmwareFileDialog(QWidget* owner, const OpenFileRequest& request)
    : QFileDialog(owner), m_pathMustExist((request.flags & kPathMustExist) != 0) {
    // Qt's own dialog, so that the rules below hold on every desktop.
    setOption(QFileDialog::DontUseNativeDialog, true);
    // Windows shows a filter by its name alone.
    setOption(QFileDialog::HideNameFilterDetails, true);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode((request.flags & kFileMustExist) != 0 ? QFileDialog::ExistingFile
                                                      : QFileDialog::AnyFile);
    setNameFilter(qtNameFilter(request.filterName, request.filterSpec));
    if (!request.initialPath.empty()) {
        // The previous choice: its folder, with its name in the name box.
        const QFileInfo previous(displayText(request.initialPath));
        setDirectory(previous.absolutePath());
        selectFile(previous.fileName());
    }
}

void FirmwareFileDialog::accept() {
    const QStringList chosen = selectedFiles();
    if (m_pathMustExist && !chosen.isEmpty()) {
        const QFileInfo file(chosen.first());
        if (!file.isDir() && !QFileInfo(file.absolutePath()).isDir()) {
            QMessageBox::warning(this, windowTitle(),
                                 tr("%1\nPath does not exist.\nCheck the path and try again.")
                                     .arg(file.absolutePath()));
            return;
        }
    }
    QFileDialog::accept();
}

std::optional<std::string> QtDialogWindow::openFileDialog(const OpenFileRequest& request) {
    return runOnThreadOf(this, [&]() -> std::optional<std::string> {
        FirmwareFileDialog dialog(this, request);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return utf8Text(dialog.selectedFiles().first());
    });
}

}  // namespace qor
