#pragma once

#include <cstdint>
#include <span>

namespace qor {

// Geometry in dialog units: a horizontal unit is a quarter of the dialog
// font's average character width, a vertical one an eighth of its height.
struct DluRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

enum class ControlClass {
    PushButton,
    Static,        // text
    BitmapStatic,  // picture
    AutoRadioButton,
    DropDownList,  // combo box that only lists
};

// Styles the hosts must honour; everything else is the class's default.
namespace control_style {
inline constexpr uint32_t kVisible = 1u << 0;
inline constexpr uint32_t kDisabled = 1u << 1;
inline constexpr uint32_t kTabStop = 1u << 2;
inline constexpr uint32_t kGroup = 1u << 3;
inline constexpr uint32_t kCentred = 1u << 4;
inline constexpr uint32_t kVerticalScroll = 1u << 5;
}  // namespace control_style

struct ControlTemplate {
    int id;
    const char* name;
    ControlClass controlClass;
    const char* text;  // initial text; null for none
    uint32_t style;
    DluRect rect;
    int bitmapId = 0;  // BitmapStatic only
};

struct DialogTemplate {
    int id;
    const char* caption;
    const char* fontName;
    int fontPoints;
    DluRect rect;
    std::span<const ControlTemplate> controls;  // in tab order
};

// The main dialog as the resource script lays it out.
const DialogTemplate& mainDialogTemplate();

}  // namespace qor
