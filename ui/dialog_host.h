#pragma once

namespace qor {

class CQorDlg;

// A window system that can show the main dialog: it builds the window from
// the template, attaches it to the dialog, runs the dialog's initialisation
// and routes its events until the user closes it.
class DialogHost {
  public:
    virtual ~DialogHost() = default;
    virtual int runModal(CQorDlg& dialog) = 0;
};

}  // namespace qor
