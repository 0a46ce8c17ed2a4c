#include "ui/dialog_template.h"

#include "ui/resource_ids.h"

namespace qor {

namespace {

using namespace control_style;

constexpr ControlTemplate kControls[] = {
    {IDC_UPDATE,
     "IDC_UPDATE",
     ControlClass::PushButton,
     "Update",
     kVisible | kTabStop | kDisabled,
     {61, 99, 119, 30}},
    {IDC_INFO,
     "IDC_INFO",
     ControlClass::Static,
     "Info",
     kVisible | kCentred | kGroup,
     {60, 140, 112, 23}},
    {IDC_PICTURE,
     "IDC_PICTURE",
     ControlClass::BitmapStatic,
     nullptr,
     kVisible,
     {84, 9, 64, 59},
     IDB_BARCODE},
    {IDC_RADIO_USB,
     "IDC_RADIO_USB",
     ControlClass::AutoRadioButton,
     "USB",
     kVisible,
     {65, 78, 29, 10}},
    {IDC_RADIO_RS232,
     "IDC_RADIO_RS232",
     ControlClass::AutoRadioButton,
     "RS-232",
     kVisible,
     {97, 78, 39, 10}},
    {IDC_COMBO_PORT,
     "IDC_COMBO_PORT",
     ControlClass::DropDownList,
     nullptr,
     kVisible | kTabStop | kDisabled | kVerticalScroll,
     {140, 77, 39, 97}},
    {IDC_STEP1, "IDC_STEP1", ControlClass::Static, "Step 1", kGroup, {8, 10, 59, 57}},
    {IDC_STEP2, "IDC_STEP2", ControlClass::Static, "Step 2", kGroup, {8, 92, 49, 26}},
};

constexpr DialogTemplate kMainDialog{
    IDD_MAIN_DIALOG, "2D Imager Vantor - V3.7", "MS Shell Dlg", 8, {0, 0, 219, 169}, kControls,
};

}  // namespace

const DialogTemplate& mainDialogTemplate() {
    return kMainDialog;
}

}  // namespace qor
