// The program's resource ids, as a resource.h would hold them: the dialog templates,
// then each dialog's controls in a namespace of its own (a control id means something
// only within its dialog: 1001 is Scan in the main window and Abort in the erase's
// progress), then the string table and the pictures. ProgramTemplates builds the
// dialogs from these names; the flows and the tests use the same ones.
//
// The buttons 1 and 2 are ui::IDOK and ui::IDCANCEL whatever they say (OK, Close, Exit,
// YES; cancel, NO); a static that nothing addresses is ui::IDC_STATIC.
// faces/win32/res/Plovix.rc gives the string and the pictures the same numbers.
#pragma once

namespace plovix::ids {

// --- Dialog templates ---
inline constexpr int kAboutTemplate = 100;
inline constexpr int kMainTemplate = 102;
inline constexpr int kSmartTemplate = 129;             // SMART status of one drive
inline constexpr int kSelfTestProgressTemplate = 130;  // quick or extended test running
inline constexpr int kAbortQuestionTemplate = 131;     // "Are you sure to abort ?"
inline constexpr int kHelpTemplate = 132;
inline constexpr int kSelfTestResultTemplate = 146;
inline constexpr int kUtilitiesTemplate = 147;
inline constexpr int kWarningTemplate = 148;  // an erase's warning, or SMART switched off
inline constexpr int kSureTemplate = 149;     // "Are you really sure?"
inline constexpr int kEraseDiskTemplate = 150;  // the erase's progress
inline constexpr int kEraseMbrDoneTemplate = 151;
inline constexpr int kEraseDiskDoneTemplate = 152;
inline constexpr int kLogViewTemplate = 153;
inline constexpr int kLogSavedTemplate = 154;  // "Create ZUL_TEST.LOG"
inline constexpr int kSurfaceTemplate = 163;   // a surface scan running
inline constexpr int kSurfaceResultTemplate = 164;

// --- Controls, by dialog ---

namespace main_window {  // kMainTemplate
inline constexpr int kBanner = 1000;
inline constexpr int kScan = 1001;
inline constexpr int kSelectAll = 1002;
inline constexpr int kQuickTest = 1003;
inline constexpr int kExtTest = 1004;
inline constexpr int kUtilities = 1005;
inline constexpr int kHelp = 1006;
inline constexpr int kDriveList = 1007;
inline constexpr int kIdeUsbLabel = 1040;
inline constexpr int kVersion = 1041;
inline constexpr int kFooter = 1043;  // the maker's notice
}  // namespace main_window

namespace smart {  // kSmartTemplate
inline constexpr int kModel = 1008;
inline constexpr int kModelLabel = 1009;
inline constexpr int kSerialLabel = 1010;
inline constexpr int kSerial = 1011;
inline constexpr int kFirmware = 1012;
inline constexpr int kMaxLbaLabel = 1013;
inline constexpr int kMaxLba = 1014;
inline constexpr int kCapacityLabel = 1015;
inline constexpr int kCapacity = 1016;
inline constexpr int kAttributeList = 1017;
inline constexpr int kTitle = 1023;  // the verdict
}  // namespace smart

namespace selftest_progress {  // kSelfTestProgressTemplate
inline constexpr int kTitle = 1018;
inline constexpr int kBar = 1019;
inline constexpr int kAbort = 1020;
inline constexpr int kProgressText = 1022;  // time left, or the percentage done
}  // namespace selftest_progress

namespace help {  // kHelpTemplate
inline constexpr int kText = 1021;
}  // namespace help

namespace selftest_result {  // kSelfTestResultTemplate
inline constexpr int kTitle = 1024;
inline constexpr int kSubtitle = 1025;
inline constexpr int kSelfTest = 1026;   // beside "SmartSelfTest"
inline constexpr int kReadError = 1033;  // beside "ReadErrorCheck"
}  // namespace selftest_result

namespace utilities {  // kUtilitiesTemplate
inline constexpr int kEraseMbr = 1001;
inline constexpr int kEraseDisk = 1002;
inline constexpr int kLogView = 1003;
inline constexpr int kShortTest = 1004;  // the short surface scan
inline constexpr int kLongTest = 1005;   // the long surface scan
}  // namespace utilities

namespace warning {  // kWarningTemplate
inline constexpr int kText = 1027;
}  // namespace warning

namespace sure {  // kSureTemplate
inline constexpr int kText = 1027;
}  // namespace sure

namespace erase_disk {  // kEraseDiskTemplate
inline constexpr int kBar = 1019;
inline constexpr int kTitle = 1029;
inline constexpr int kAbort = 1001;
}  // namespace erase_disk

namespace log_view {  // kLogViewTemplate
inline constexpr int kSaveToFile = 1001;
inline constexpr int kTitle = 1030;
inline constexpr int kText = 1031;  // the report
}  // namespace log_view

namespace surface {  // kSurfaceTemplate
inline constexpr int kAbort = 3;
inline constexpr int kBar = 1034;
inline constexpr int kTitle = 1035;
inline constexpr int kProgressText = 1042;  // the percentage done
}  // namespace surface

namespace surface_result {  // kSurfaceResultTemplate
inline constexpr int kReadError = 1033;  // beside "ReadErrorCheck"
inline constexpr int kTitle = 1036;
inline constexpr int kSubtitle = 1037;
inline constexpr int kFailedRun = 1038;  // where a failed scan stopped
inline constexpr int kSurface = 1039;    // beside "SurfaceTest"
inline constexpr int kReadsNote = 1040;  // reads made where the scan could not verify
}  // namespace surface_result

// --- String table ---
inline constexpr int kAboutMenuString = 101;  // the system menu's About item

// --- Pictures ---
inline constexpr int kAppIcon = 128;
inline constexpr int kLogoBitmap = 133;
inline constexpr int kDriveBitmap = 137;
inline constexpr int kGoodIcon = 141;  // a SMART row within its threshold
inline constexpr int kBadIcon = 144;   // a SMART row past it

}  // namespace plovix::ids
