#pragma once

#include <QFileDialog>

#include "ui/window.h"

namespace qor {

// The open-file dialog of the update flow, shaped by the request as the
// Windows common dialog is by its flags: with "path must exist" a name that
// is typed in is taken even when no such file exists, as long as its folder
// does; a missing folder is refused and the dialog stays open.
class FirmwareFileDialog final : public QFileDialog {
    Q_OBJECT

  public:
    FirmwareFileDialog(QWidget* owner, const OpenFileRequest& request);

    // Windows open-file flags that the dialog honours.
    static constexpr uint32_t kPathMustExist = 0x0800;
    static constexpr uint32_t kFileMustExist = 0x1000;

  public slots:
    void accept() override;

  private:
    bool m_pathMustExist = false;
};

// "*.*" is every name on Windows, dotless ones included; Qt's pattern for
// that is "*". Windows separates patterns with ';', Qt with spaces.
QString qtNameFilter(std::string_view name, std::string_view patterns);

}  // namespace qor
