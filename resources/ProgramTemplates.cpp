// Every dialog of the program as data. Rectangles are in dialog units, controls in
// template order (which is also the tab order).
#include "resources/Resources.h"

namespace plovix::resources {

namespace {

using ui::ControlTemplate;
using ui::DialogTemplate;
using ui::Kind;
using ui::Rect;
namespace st = ui::style;
namespace ds = ui::dstyle;

constexpr int kNone = ui::IDC_STATIC;

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
  t.id = 100;
  t.caption = "バージョン情報 Plovix";
  t.width = 170;
  t.height = 62;
  t.controls = {
      {kNone, Kind::Icon, "", {14, 14, 21, 18}, 0, 128},
      Text(kNone, "Plovix, Version 0.92", {42, 14, 114, 8}, st::kLeft | st::kNoPrefix),
      Text(kNone, kShortNoticeLine, {42, 26, 114, 8}),
      DefButton(1, "OK", {113, 41, 50, 14}),
  };
  return t;
}

DialogTemplate MainWindow() {
  DialogTemplate t;
  t.id = 102;
  t.caption = "ZUL for Windows";
  t.width = 558;
  t.height = 287;
  t.style = ds::kPopup | ds::kVisible | ds::kCaption | ds::kSysMenu | ds::kThickFrame |
            ds::kMinMaxBox | ds::kAppWindow;
  t.controls = {
      Text(1000, "Velmira For Windows", {7, 7, 544, 48}, kCentred),
      Button(1001, "Scan", {27, 64, 50, 22}, st::kClientEdge),
      Button(1002, "Select All", {83, 64, 50, 22}, st::kClientEdge),
      Button(1003, "Quick Test", {139, 64, 50, 22}, st::kClientEdge),
      Button(1004, "Ext Test", {195, 64, 50, 22}, st::kClientEdge),
      Button(1005, "Utilities", {350, 64, 50, 22}, st::kClientEdge),
      Button(1006, "Help", {406, 64, 50, 22}, st::kClientEdge),
      {1007, Kind::ListView, "", {26, 99, 506, 159},
       st::kReport | st::kShowSelAlways | st::kBorder | st::kTabStop, 0},
      {kNone, Kind::Bitmap, "", {7, 14, 133, 33}, 0, 133},
      {kNone, Kind::Bitmap, "", {487, 7, 64, 46}, 0, 137},
      Text(kNone, "please double click the target line of HDD to show SMART/Test log",
           {27, 87, 248, 8}),
      Text(1043, kNoticeLine, {265, 266, 257, 12}, st::kRight | st::kVCenter),
      Text(1040, "IDE/USB", {405, 44, 60, 10}, st::kRight),
      Text(1041, "", {471, 44, 36, 9}),
  };
  return t;
}

DialogTemplate SmartStatus() {
  DialogTemplate t;
  t.id = 129;
  t.caption = "ZUL for Windows";
  t.width = 415;
  t.height = 294;
  t.controls = {
      Text(1023, "", {7, 7, 401, 32}),
      Text(1009, "Model name", {23, 51, 43, 11}),
      {1008, Kind::Edit, "", {77, 50, 131, 14}, kInfoEdit, 0},
      Text(1010, "Serial", {28, 73, 18, 8}),
      {1011, Kind::Edit, "", {77, 71, 131, 14}, kInfoEdit, 0},
      Text(kNone, "FW revison", {28, 93, 37, 8}),
      {1012, Kind::Edit, "", {77, 91, 131, 14}, kInfoEdit, 0},
      Text(1013, "Max LBA", {227, 53, 34, 8}),
      {1014, Kind::Edit, "", {265, 50, 131, 14}, kInfoEdit, 0},
      Text(1015, "Capacity", {227, 75, 29, 8}),
      {1016, Kind::Edit, "", {266, 71, 131, 14}, kInfoEdit, 0},
      {1017, Kind::ListView, "", {17, 117, 381, 147},
       st::kReport | st::kShowSelAlways | st::kBorder | st::kTabStop, 0},
      DefButton(1, "Close", {339, 273, 50, 14}),
  };
  return t;
}

DialogTemplate SelfTestProgress() {
  DialogTemplate t;
  t.id = 130;
  t.caption = "SMART Test";
  t.width = 353;
  t.height = 199;
  t.controls = {
      Text(1018, "", {7, 7, 339, 36}),
      Progress(1019, {55, 82, 244, 14}, st::kBorder),
      Text(kNone, "Please Push \"Abort\" if you want to abort test", {171, 150, 154, 8}),
      // The only tab stop of this dialog, and not a default button.
      Button(1020, "Abort", {271, 169, 50, 14}),
      Text(1022, "", {34, 57, 107, 13}),
  };
  return t;
}

DialogTemplate AbortQuestion() {
  DialogTemplate t;
  t.id = 131;
  t.caption = "Confirmation";
  t.width = 202;
  t.height = 81;
  t.controls = {
      DefButton(1, "OK", {43, 46, 50, 14}),
      Button(2, "cancel", {120, 47, 50, 14}),
      Text(kNone, "Are you sure to abort ?", {59, 26, 76, 8}),
  };
  return t;
}

DialogTemplate HelpViewer() {
  DialogTemplate t;
  t.id = 132;
  t.caption = "ZUL for Windows";
  t.width = 316;
  t.height = 180;
  t.controls = {
      DefButton(1, "OK", {242, 159, 50, 14}),
      // No horizontal auto-scroll: long lines wrap at the control's width.
      {1021, Kind::Edit, "", {30, 28, 256, 121},
       st::kMultiline | st::kReadOnly | st::kVScroll | st::kWantReturn | st::kBorder |
           st::kTabStop,
       0},
  };
  return t;
}

DialogTemplate SelfTestResult() {
  DialogTemplate t;
  t.id = 146;
  t.caption = "SMART Test Result";
  t.width = 357;
  t.height = 180;
  t.controls = {
      DefButton(1, "Exit", {270, 145, 50, 14}),
      Text(1024, "", {7, 7, 343, 38}),
      Text(1025, "", {15, 53, 188, 12}),
      Text(kNone, "SmartSelfTest", {27, 110, 52, 8}),
      Text(1026, "", {94, 109, 256, 17}),
      Text(kNone, "Please push \"EXIT\" to retrun", {222, 131, 123, 8}),
      Text(kNone, "ReadErrorCheck", {27, 81, 54, 8}),
      Text(1033, "", {94, 83, 225, 17}),
  };
  return t;
}

DialogTemplate UtilitiesMenu() {
  DialogTemplate t;
  t.id = 147;
  t.caption = "Utilities";
  t.width = 164;
  t.height = 182;
  t.controls = {
      Button(1001, "Erase MBR", {52, 25, 62, 16}),
      Button(1002, "Erase Disk", {51, 55, 62, 16}),
      Button(1004, "Short Test", {51, 85, 62, 16}),
      Button(1005, "LongTest", {51, 113, 61, 16}),
      Button(1003, "Log View", {51, 142, 62, 16}),
  };
  return t;
}

DialogTemplate EraseWarning() {
  DialogTemplate t;
  t.id = 148;
  t.caption = "WARNING";
  t.width = 333;
  t.height = 115;
  t.controls = {
      Button(2, "CANCEL", {206, 81, 50, 14}),
      DefButton(1, "OK", {100, 81, 50, 14}),
      Text(1027, "", {7, 23, 319, 40}),
  };
  return t;
}

DialogTemplate EraseConfirmation() {
  DialogTemplate t;
  t.id = 149;
  t.caption = "Confirmation";
  t.width = 209;
  t.height = 75;
  t.controls = {
      Button(2, "NO", {116, 47, 50, 14}),
      DefButton(1, "YES", {47, 47, 50, 14}),
      Text(1027, "Are you really sure?", {33, 15, 145, 24}, kCentred),
  };
  return t;
}

DialogTemplate EraseDiskProgress() {
  DialogTemplate t;
  t.id = 150;
  t.caption = "Erase Disk";
  t.width = 348;
  t.height = 198;
  t.controls = {
      Text(1029, "Erase Disk", {7, 7, 334, 37}),
      Progress(1019, {53, 85, 246, 14}),
      Text(kNone, "Erase Disk in progress", {35, 65, 83, 8}),
      Button(1001, "Abort", {258, 155, 50, 14}),
  };
  return t;
}

DialogTemplate EraseMbrDone() {
  DialogTemplate t;
  t.id = 151;
  t.caption = "Erase MBR Result";
  t.width = 190;
  t.height = 68;
  t.controls = {
      DefButton(1, "OK", {69, 38, 50, 14}),
      Text(kNone, "ERASE MBR HAS BEEN COMPLETED SUCCESSFULLY", {7, 18, 176, 8}, kCentred),
  };
  return t;
}

DialogTemplate EraseDiskDone() {
  DialogTemplate t;
  t.id = 152;
  t.caption = "Erase Disk Result";
  t.width = 195;
  t.height = 68;
  t.controls = {
      DefButton(1, "OK", {70, 39, 50, 14}),
      Text(kNone, "ERASE DISK HAS BEEN COMPLETED SUCCESSFULLY", {7, 17, 181, 8}, kCentred),
  };
  return t;
}

DialogTemplate LogViewer() {
  DialogTemplate t;
  t.id = 153;
  t.caption = "Dialog";
  t.width = 412;
  t.height = 247;
  t.controls = {
      DefButton(1, "Close", {355, 215, 50, 14}),
      Text(1030, "Test Log", {18, 16, 173, 18}),
      // Report lines are columns: scroll sideways rather than wrap.
      {1031, Kind::Edit, "", {56, 50, 294, 156},
       st::kMultiline | st::kReadOnly | st::kVScroll | st::kAutoHScroll | st::kWantReturn |
           st::kBorder | st::kTabStop,
       0},
      Button(1001, "Save to File", {281, 214, 50, 14}),
  };
  return t;
}

DialogTemplate ReportSaved() {
  DialogTemplate t;
  t.id = 154;
  t.caption = "Dialog";
  t.width = 192;
  t.height = 89;
  t.controls = {
      Text(kNone, "Create ZUL_TEST.LOG", {53, 28, 74, 8}),
      DefButton(1, "OK", {68, 55, 50, 14}),
  };
  return t;
}

DialogTemplate SurfaceProgress() {
  DialogTemplate t;
  t.id = 163;
  t.caption = "Surface Test";
  t.width = 350;
  t.height = 199;
  t.controls = {
      Progress(1034, {47, 81, 250, 14}),
      Text(1035, "", {7, 7, 336, 35}),
      DefButton(3, "Abort", {267, 163, 50, 14}),
      Text(kNone, "Please Push \"Abort\" if you want to abort test", {150, 145, 145, 8}),
      Text(1042, "", {34, 57, 107, 13}),
  };
  return t;
}

DialogTemplate SurfaceResult() {
  DialogTemplate t;
  t.id = 164;
  t.caption = "Surface Test Result";
  t.width = 356;
  t.height = 202;
  t.controls = {
      DefButton(1, "Exit", {261, 164, 50, 14}),
      Text(1036, "", {7, 7, 342, 38}),
      Text(1037, "", {21, 58, 195, 16}),
      Text(kNone, "ReadErrorCheck", {47, 91, 67, 10}),
      Text(kNone, "SurfaceTest", {46, 122, 66, 11}),
      Text(kNone, "Please push \"EXIT\" to retrun", {202, 150, 92, 8}),
      Text(1033, "", {123, 93, 162, 19}),
      Text(1039, "", {121, 123, 162, 19}),
      // Where a failed scan stopped: its failing run, on a row of its own.
      Text(1038, "", {21, 160, 235, 8}),
      // Reads made where the scan could not verify: a paragraph of its own beside the
      // subtitle, where the rows below have no room for one.
      Text(1040, "", {257, 48, 92, 40}),
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
  return {{101, "バージョン情報 Plovix(&A)..."}};
}

}  // namespace plovix::resources
