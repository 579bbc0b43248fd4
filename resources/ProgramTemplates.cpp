// Every dialog of the program as data. Rectangles are in dialog units, controls in
// template order (which is also the tab order).
#include "resources/Resources.h"

#include "resources/ResourceIds.h"

namespace plovix::resources {

namespace {

using ui::ControlTemplate;
using ui::DialogTemplate;
using ui::Kind;
using ui::Rect;
namespace st = ui::style;
namespace ds = ui::dstyle;
using namespace ids;  // the templates are made of the ids, by name

constexpr int kNone = ui::IDC_STATIC;
constexpr int kOk = ui::IDOK;
constexpr int kCancel = ui::IDCANCEL;

// Plain push buttons are tab stops, as resource compilers make them by default.
ControlTemplate Button(int id, const char* text, Rect r, std::uint32_t extra = 0) {
  return {id, Kind::Button, text, r, st::kTabStop | extra, 0};
}
ControlTemplate DefButton(int id, const char* text, Rect r) {
  return Button(id, text, r, st::kDefButton);
}
ControlTemplate Text(int id, const char* text, Rect r, std::uint32_t align = st::kLeft) {
  return {id, Kind::Static, text, r, align, 0};
}
ControlTemplate Progress(int id, Rect r, std::uint32_t extra = 0) {
  return {id, Kind::Progress, "", r, extra, 0};
}

constexpr std::uint32_t kCentred = st::kCenter | st::kVCenter;
constexpr std::uint32_t kInfoEdit = st::kReadOnly | st::kAutoHScroll | st::kBorder;

// The maker's notice line: in full in the main window, short enough for the About box.
constexpr const char* kNoticeLine = "Copyright (C) 2012 Velmira. All rights reserved.";
constexpr const char* kShortNoticeLine = "Copyright (C) 2012 Velmira";

DialogTemplate About() {
  DialogTemplate t;
  t.id = kAboutTemplate;
  t.caption = "バージョン情報 Plovix";
  t.width = 170;
  t.height = 62;
  t.controls = {
      {kNone, Kind::Icon, "", {14, 14, 21, 18}, 0, kAppIcon},
      Text(kNone, "Plovix, Version 0.92", {42, 14, 114, 8}, st::kLeft | st::kNoPrefix),
      Text(kNone, kShortNoticeLine, {42, 26, 114, 8}),
      DefButton(kOk, "OK", {113, 41, 50, 14}),
  };
  return t;
}

DialogTemplate MainWindow() {
  DialogTemplate t;
  t.id = kMainTemplate;
  t.caption = "ZUL for Windows";
  t.width = 558;
  t.height = 287;
  t.style = ds::kPopup | ds::kVisible | ds::kCaption | ds::kSysMenu | ds::kThickFrame |
            ds::kMinMaxBox | ds::kAppWindow;
  t.controls = {
      Text(main_window::kBanner, "Velmira For Windows", {7, 7, 544, 48}, kCentred),
      Button(main_window::kScan, "Scan", {27, 64, 50, 22}, st::kClientEdge),
      Button(main_window::kSelectAll, "Select All", {83, 64, 50, 22}, st::kClientEdge),
      Button(main_window::kQuickTest, "Quick Test", {139, 64, 50, 22}, st::kClientEdge),
      Button(main_window::kExtTest, "Ext Test", {195, 64, 50, 22}, st::kClientEdge),
      Button(main_window::kUtilities, "Utilities", {350, 64, 50, 22}, st::kClientEdge),
      Button(main_window::kHelp, "Help", {406, 64, 50, 22}, st::kClientEdge),
      {main_window::kDriveList, Kind::ListView, "", {26, 99, 506, 159},
       st::kReport | st::kShowSelAlways | st::kBorder | st::kTabStop, 0},
      {kNone, Kind::Bitmap, "", {7, 14, 133, 33}, 0, kLogoBitmap},
      {kNone, Kind::Bitmap, "", {487, 7, 64, 46}, 0, kDriveBitmap},
      Text(kNone, "please double click the target line of HDD to show SMART/Test log",
           {27, 87, 248, 8}),
      Text(main_window::kFooter, kNoticeLine, {265, 266, 257, 12}, st::kRight | st::kVCenter),
      Text(main_window::kIdeUsbLabel, "IDE/USB", {405, 44, 60, 10}, st::kRight),
      Text(main_window::kVersion, "", {471, 44, 36, 9}),
  };
  return t;
}

DialogTemplate SmartStatus() {
  DialogTemplate t;
  t.id = kSmartTemplate;
  t.caption = "ZUL for Windows";
  t.width = 415;
  t.height = 294;
  t.controls = {
      Text(smart::kTitle, "", {7, 7, 401, 32}),
      Text(smart::kModelLabel, "Model name", {23, 51, 43, 11}),
      {smart::kModel, Kind::Edit, "", {77, 50, 131, 14}, kInfoEdit, 0},
      Text(smart::kSerialLabel, "Serial", {28, 73, 18, 8}),
      {smart::kSerial, Kind::Edit, "", {77, 71, 131, 14}, kInfoEdit, 0},
      Text(kNone, "FW revison", {28, 93, 37, 8}),
      {smart::kFirmware, Kind::Edit, "", {77, 91, 131, 14}, kInfoEdit, 0},
      Text(smart::kMaxLbaLabel, "Max LBA", {227, 53, 34, 8}),
      {smart::kMaxLba, Kind::Edit, "", {265, 50, 131, 14}, kInfoEdit, 0},
      Text(smart::kCapacityLabel, "Capacity", {227, 75, 29, 8}),
      {smart::kCapacity, Kind::Edit, "", {266, 71, 131, 14}, kInfoEdit, 0},
      {smart::kAttributeList, Kind::ListView, "", {17, 117, 381, 147},
       st::kReport | st::kShowSelAlways | st::kBorder | st::kTabStop, 0},
      DefButton(kOk, "Close", {339, 273, 50, 14}),
  };
  return t;
}

DialogTemplate SelfTestProgress() {
  DialogTemplate t;
  t.id = kSelfTestProgressTemplate;
  t.caption = "SMART Test";
  t.width = 353;
  t.height = 199;
  t.controls = {
      Text(selftest_progress::kTitle, "", {7, 7, 339, 36}),
      Progress(selftest_progress::kBar, {55, 82, 244, 14}, st::kBorder),
      Text(kNone, "Please Push \"Abort\" if you want to abort test", {171, 150, 154, 8}),
      // The only tab stop of this dialog, and not a default button.
      Button(selftest_progress::kAbort, "Abort", {271, 169, 50, 14}),
      Text(selftest_progress::kProgressText, "", {34, 57, 107, 13}),
  };
  return t;
}

DialogTemplate AbortQuestion() {
  DialogTemplate t;
  t.id = kAbortQuestionTemplate;
  t.caption = "Confirmation";
  t.width = 202;
  t.height = 81;
  t.controls = {
      DefButton(kOk, "OK", {43, 46, 50, 14}),
      Button(kCancel, "cancel", {120, 47, 50, 14}),
      Text(kNone, "Are you sure to abort ?", {59, 26, 76, 8}),
  };
  return t;
}

DialogTemplate HelpViewer() {
  DialogTemplate t;
  t.id = kHelpTemplate;
  t.caption = "ZUL for Windows";
  t.width = 316;
  t.height = 180;
  t.controls = {
      DefButton(kOk, "OK", {242, 159, 50, 14}),
      // No horizontal auto-scroll: long lines wrap at the control's width.
      {help::kText, Kind::Edit, "", {30, 28, 256, 121},
       st::kMultiline | st::kReadOnly | st::kVScroll | st::kWantReturn | st::kBorder |
           st::kTabStop,
       0},
  };
  return t;
}

DialogTemplate SelfTestResult() {
  DialogTemplate t;
  t.id = kSelfTestResultTemplate;
  t.caption = "SMART Test Result";
  t.width = 357;
  t.height = 180;
  t.controls = {
      DefButton(kOk, "Exit", {270, 145, 50, 14}),
      Text(selftest_result::kTitle, "", {7, 7, 343, 38}),
      Text(selftest_result::kSubtitle, "", {15, 53, 188, 12}),
      Text(kNone, "SmartSelfTest", {27, 110, 52, 8}),
      Text(selftest_result::kSelfTest, "", {94, 109, 256, 17}),
      Text(kNone, "Please push \"EXIT\" to retrun", {222, 131, 123, 8}),
      Text(kNone, "ReadErrorCheck", {27, 81, 54, 8}),
      Text(selftest_result::kReadError, "", {94, 83, 225, 17}),
  };
  return t;
}

DialogTemplate UtilitiesMenu() {
  DialogTemplate t;
  t.id = kUtilitiesTemplate;
  t.caption = "Utilities";
  t.width = 164;
  t.height = 182;
  t.controls = {
      Button(utilities::kEraseMbr, "Erase MBR", {52, 25, 62, 16}),
      Button(utilities::kEraseDisk, "Erase Disk", {51, 55, 62, 16}),
      Button(utilities::kShortTest, "Short Test", {51, 85, 62, 16}),
      Button(utilities::kLongTest, "LongTest", {51, 113, 61, 16}),
      Button(utilities::kLogView, "Log View", {51, 142, 62, 16}),
  };
  return t;
}

DialogTemplate EraseWarning() {
  DialogTemplate t;
  t.id = kWarningTemplate;
  t.caption = "WARNING";
  t.width = 333;
  t.height = 115;
  t.controls = {
      Button(kCancel, "CANCEL", {206, 81, 50, 14}),
      DefButton(kOk, "OK", {100, 81, 50, 14}),
      Text(warning::kText, "", {7, 23, 319, 40}),
  };
  return t;
}

DialogTemplate EraseConfirmation() {
  DialogTemplate t;
  t.id = kSureTemplate;
  t.caption = "Confirmation";
  t.width = 209;
  t.height = 75;
  t.controls = {
      Button(kCancel, "NO", {116, 47, 50, 14}),
      DefButton(kOk, "YES", {47, 47, 50, 14}),
      Text(sure::kText, "Are you really sure?", {33, 15, 145, 24}, kCentred),
  };
  return t;
}

DialogTemplate EraseDiskProgress() {
  DialogTemplate t;
  t.id = kEraseDiskTemplate;
  t.caption = "Erase Disk";
  t.width = 348;
  t.height = 198;
  t.controls = {
      Text(erase_disk::kTitle, "Erase Disk", {7, 7, 334, 37}),
      Progress(erase_disk::kBar, {53, 85, 246, 14}),
      Text(kNone, "Erase Disk in progress", {35, 65, 83, 8}),
      Button(erase_disk::kAbort, "Abort", {258, 155, 50, 14}),
  };
  return t;
}

DialogTemplate EraseMbrDone() {
  DialogTemplate t;
  t.id = kEraseMbrDoneTemplate;
  t.caption = "Erase MBR Result";
  t.width = 190;
  t.height = 68;
  t.controls = {
      DefButton(kOk, "OK", {69, 38, 50, 14}),
      Text(kNone, "ERASE MBR HAS BEEN COMPLETED SUCCESSFULLY", {7, 18, 176, 8}, kCentred),
  };
  return t;
}

DialogTemplate EraseDiskDone() {
  DialogTemplate t;
  t.id = kEraseDiskDoneTemplate;
  t.caption = "Erase Disk Result";
  t.width = 195;
  t.height = 68;
  t.controls = {
      DefButton(kOk, "OK", {70, 39, 50, 14}),
      Text(kNone, "ERASE DISK HAS BEEN COMPLETED SUCCESSFULLY", {7, 17, 181, 8}, kCentred),
  };
  return t;
}

DialogTemplate LogViewer() {
  DialogTemplate t;
  t.id = kLogViewTemplate;
  t.caption = "Dialog";
  t.width = 412;
  t.height = 247;
  t.controls = {
      DefButton(kOk, "Close", {355, 215, 50, 14}),
      Text(log_view::kTitle, "Test Log", {18, 16, 173, 18}),
      // Report lines are columns: scroll sideways rather than wrap.
      {log_view::kText, Kind::Edit, "", {56, 50, 294, 156},
       st::kMultiline | st::kReadOnly | st::kVScroll | st::kAutoHScroll | st::kWantReturn |
           st::kBorder | st::kTabStop,
       0},
      Button(log_view::kSaveToFile, "Save to File", {281, 214, 50, 14}),
  };
  return t;
}

DialogTemplate ReportSaved() {
  DialogTemplate t;
  t.id = kLogSavedTemplate;
  t.caption = "Dialog";
  t.width = 192;
  t.height = 89;
  t.controls = {
      Text(kNone, "Create ZUL_TEST.LOG", {53, 28, 74, 8}),
      DefButton(kOk, "OK", {68, 55, 50, 14}),
  };
  return t;
}

DialogTemplate SurfaceProgress() {
  DialogTemplate t;
  t.id = kSurfaceTemplate;
  t.caption = "Surface Test";
  t.width = 350;
  t.height = 199;
  t.controls = {
      Progress(surface::kBar, {47, 81, 250, 14}),
      Text(surface::kTitle, "", {7, 7, 336, 35}),
      DefButton(surface::kAbort, "Abort", {267, 163, 50, 14}),
      Text(kNone, "Please Push \"Abort\" if you want to abort test", {150, 145, 145, 8}),
      Text(surface::kProgressText, "", {34, 57, 107, 13}),
  };
  return t;
}

DialogTemplate SurfaceResult() {
  DialogTemplate t;
  t.id = kSurfaceResultTemplate;
  t.caption = "Surface Test Result";
  t.width = 356;
  t.height = 202;
  t.controls = {
      DefButton(kOk, "Exit", {261, 164, 50, 14}),
      Text(surface_result::kTitle, "", {7, 7, 342, 38}),
      Text(surface_result::kSubtitle, "", {21, 58, 195, 16}),
      Text(kNone, "ReadErrorCheck", {47, 91, 67, 10}),
      Text(kNone, "SurfaceTest", {46, 122, 66, 11}),
      Text(kNone, "Please push \"EXIT\" to retrun", {202, 150, 92, 8}),
      Text(surface_result::kReadError, "", {123, 93, 162, 19}),
      Text(surface_result::kSurface, "", {121, 123, 162, 19}),
      // Where a failed scan stopped: its failing run, on a row of its own.
      Text(surface_result::kFailedRun, "", {21, 160, 235, 8}),
      // Reads made where the scan could not verify: a paragraph of its own beside the
      // subtitle, where the rows below have no room for one.
      Text(surface_result::kReadsNote, "", {257, 48, 92, 40}),
  };
  return t;
}

}  // namespace

std::vector<ui::DialogTemplate> ProgramTemplates() {
  return {About(),          MainWindow(),      SmartStatus(),       SelfTestProgress(),
          AbortQuestion(),  HelpViewer(),      SelfTestResult(),    UtilitiesMenu(),
          EraseWarning(),   EraseConfirmation(), EraseDiskProgress(), EraseMbrDone(),
          EraseDiskDone(),  LogViewer(),       ReportSaved(),       SurfaceProgress(),
          SurfaceResult()};
}

std::map<int, std::string> ProgramStrings() {
  return {{kAboutMenuString, "バージョン情報 Plovix(&A)..."}};
}

}  // namespace plovix::resources
