#pragma once

#include <QIcon>
#include <QPixmap>

namespace qor {

// The pictures of res/ by resource id: IDB_BARCODE and IDB_LOGO. A null
// pixmap for any other id.
QPixmap bitmapResource(int bitmapId);

// The icon IDR_MAINFRAME at every size it is drawn at.
QIcon iconResource(int iconId);

}  // namespace qor
