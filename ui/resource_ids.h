#pragma once

#include <cstdint>

namespace qor {

// Resource ids of the main dialog. The hosts and the tests address every
// control by these numbers, so they are the dialog's public surface.
inline constexpr int IDD_MAIN_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDB_BARCODE = 133;
inline constexpr int IDB_LOGO = 135;

inline constexpr int IDC_UPDATE = 1000;
inline constexpr int IDC_INFO = 1003;
inline constexpr int IDC_PICTURE = 1004;
inline constexpr int IDC_RADIO_USB = 1007;
inline constexpr int IDC_RADIO_RS232 = 1008;
inline constexpr int IDC_COMBO_PORT = 1009;
inline constexpr int IDC_STEP1 = 1010;
inline constexpr int IDC_STEP2 = 1011;

// Device rows: row k (1..6) has its progress bar at id k and its label at
// id k + 9. Device index i drives row i + 1.
inline constexpr int kMaxDeviceRows = 6;
inline constexpr int progressBarId(int deviceIndex) {
    return deviceIndex + 1;
}
inline constexpr int rowLabelId(int deviceIndex) {
    return deviceIndex + 10;
}

// Message box types: MB_OK with the error (0x10) or information (0x40)
// icon, and MB_TOPMOST (0x40000).
inline constexpr uint32_t kErrorBoxType = 0x40010;
inline constexpr uint32_t kSuccessBoxType = 0x40040;

// The poll timer of USB mode.
inline constexpr int kPollTimerId = 0;
inline constexpr uint32_t kPollPeriodMs = 250;

}  // namespace qor
