#include "ui/qt/qt_resources.h"

#include "ui/resource_ids.h"

namespace qor {

namespace {

struct BitmapFile {
    int id;
    const char* path;
};

constexpr BitmapFile kBitmaps[] = {
    {IDB_BARCODE, ":/qor/barcode.bmp"},
    {IDB_LOGO, ":/qor/logo.bmp"},
};

constexpr const char* kIconSizes[] = {
    ":/qor/icon-16.png",
    ":/qor/icon-32.png",
    ":/qor/icon-48.png",
};

}  // namespace

QPixmap bitmapResource(int bitmapId) {
    for (const BitmapFile& bitmap : kBitmaps) {
        if (bitmap.id == bitmapId) {
            return QPixmap(QString::fromLatin1(bitmap.path));
        }
    }
    return {};
}

QIcon iconResource(int iconId) {
    QIcon icon;
    if (iconId == IDR_MAINFRAME) {
        for (const char* file : kIconSizes) {
            icon.addFile(QString::fromLatin1(file));
        }
    }
    return icon;
}

}  // namespace qor
