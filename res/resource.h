// Resource ids for the resource compiler, which cannot read C++. They are
// the numbers of ui/resource_ids.h; a test keeps the two in step.
#define IDD_MAIN_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_BARCODE 133
#define IDB_LOGO 135

#define IDC_UPDATE 1000
#define IDC_INFO 1003
#define IDC_PICTURE 1004
#define IDC_RADIO_USB 1007
#define IDC_RADIO_RS232 1008
#define IDC_COMBO_PORT 1009
#define IDC_STEP1 1010
#define IDC_STEP2 1011
