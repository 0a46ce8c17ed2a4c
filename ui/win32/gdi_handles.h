#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace qor {

// Owners of the bitmaps and icons the dialog loads, and of the screen's
// device context: each is released once, when its owner goes or takes
// another.
struct BitmapDeleter {
    void operator()(HBITMAP bitmap) const { ::DeleteObject(bitmap); }
};
struct IconDeleter {
    void operator()(HICON icon) const { ::DestroyIcon(icon); }
};
// A screen device context from GetDC(nullptr).
struct ScreenDcDeleter {
    void operator()(HDC dc) const { ::ReleaseDC(nullptr, dc); }
};

using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDeleter>;
using UniqueIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;
using UniqueScreenDc = std::unique_ptr<std::remove_pointer_t<HDC>, ScreenDcDeleter>;

}  // namespace qor
