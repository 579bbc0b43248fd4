// Every dialog of the program as the native back end shows it, with the texts, fonts
// and list contents the program really puts in: each static's and button's text,
// measured in its own font, lies inside the control, each list's columns side by side
// inside the list, and every control inside the dialog, at the system's DPI and after a
// move to a monitor of half as much again.
// The texts come from running the program's flows on benches with a scripted user;
// the dialogs are then shown for real and walked control by control.
//
// PLOVIX_EXPECT_DPI=<n> makes the run fail unless the system's DPI is n;
// PLOVIX_SHOT_DIR=<folder> saves every dialog shown as <template>-<dpi>-<n>.bmp there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/CPlovixApp.h"
#include "app/CPlovixDlg.h"
#include "diagnostics/Utilities.h"
#include "faces/win32/Win32Backend.h"
#include "devices/sim/Bench.h"
#include "devices/sim/DemoBench.h"
#include "tests/support/auto_user.h"
#include "tests/support/temp_dir.h"
#include "resources/ResourceIds.h"
#include "ui/Template.h"
#include "faces/win32/Win32Template.h"

#include <windows.h>
#include <commctrl.h>

namespace {

namespace sim = plovix::sim;
namespace ids = plovix::ids;
using plovix::testing_utils::AutoUser;
using ui::scripted::Step;

struct ListSnapshot {
  std::uint32_t ext_style = 0;
  std::vector<ui::ListColumn> columns;
  std::vector<std::vector<std::string>> rows;
  std::vector<int> row_images;
  std::vector<int> images;
};

// Everything one template was seen showing, over all flows.
struct Seen {
  std::set<std::string> captions;
  std::vector<std::set<std::string>> texts;  // per control, template order
  std::vector<std::optional<ui::Font>> fonts;
  std::vector<ListSnapshot> lists;
};

class Recorder : public AutoUser {
 public:
  std::map<int, Seen> seen;

  void RunModalLoop(ui::Dialog& dlg) override {
    Note(dlg);
    AutoUser::RunModalLoop(dlg);
  }
  void ControlChanged(ui::Dialog& dlg, ui::Control& control) override {
    Note(dlg);
    AutoUser::ControlChanged(dlg, control);
  }
  void CaptionChanged(ui::Dialog& dlg) override {
    Note(dlg);
    AutoUser::CaptionChanged(dlg);
  }
  void DialogClosed(ui::Dialog& dlg) override {
    Note(dlg);
    AutoUser::DialogClosed(dlg);
  }

 private:
  void Note(ui::Dialog& dlg) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Seen& s = seen[dlg.template_id()];
    s.captions.insert(dlg.caption());
    const auto& controls = dlg.controls();
    s.texts.resize(controls.size());
    s.fonts.resize(controls.size());
    s.lists.resize(controls.size());
    for (std::size_t i = 0; i < controls.size(); ++i) {
      const ui::Control& c = *controls[i];
      if (!c.text().empty()) s.texts[i].insert(c.text());
      if (c.font()) s.fonts[i] = c.font();
      if (const auto* list = dynamic_cast<const ui::ListCtrl*>(&c)) {
        ListSnapshot& snap = s.lists[i];
        // The fullest content seen is the hardest to show.
        if (list->GetItemCount() < static_cast<int>(snap.rows.size()) || list->columns().empty()) continue;
        snap.ext_style = list->GetExtendedStyle();
        snap.columns = list->columns();
        snap.images = list->image_list();
        snap.rows.clear();
        snap.row_images.clear();
        for (const auto& item : list->items()) {
          snap.rows.push_back(item.texts);
          snap.row_images.push_back(item.image);
        }
      }
    }
  }
  std::mutex mutex_;
};

constexpr int kChosen = 3;
constexpr std::uint64_t kSmallDisk = 3 * 65535 + 5;

sim::DriveSpec SmallDrive(const std::string& serial) {
  sim::DriveSpec setup;
  setup.model = "PLOVIX BENCH DRIVE WITH A LONG MODEL NAME " + serial;
  setup.serial = serial;
  setup.firmware = "FW01";
  setup.total_sectors = kSmallDisk;
  setup.attributes = {sim::SmartAttr{.id = 1, .raw = 0, .threshold = 6},
                      sim::SmartAttr{.id = 5, .raw = 0, .threshold = 36},
                      sim::SmartAttr{.id = 197, .raw = 0, .threshold = 0}};
  return setup;
}

// One run of the program: a bench, what the user does in the main window, and how
// every other window is answered.
struct Flow {
  const char* name;
  std::function<void(sim::Bench&)> bench;
  std::function<void(Recorder&, Step&)> main;
};

void RunFlow(const Flow& flow, std::map<int, Seen>& into) {
  plovix::testing_support::TempWorkDir dir;
  Recorder ui;
  sim::Bench bench;
  bench.SetClock([&ui] { return ui.now_ms(); });
  flow.bench(bench);
  // The chosen drive's log holds an earlier record, so the log view has a report to show.
  if (std::FILE* f = std::fopen("CHOSEN03.log", "wb")) {
    std::fputs("SMART QT\r\nDone\r\nPass\r\n03/14/2012 09:00:00\r\n", f);
    std::fclose(f);
  }
  auto press = [](int id) { return [id](Step& s) { s.Press(id); }; };
  auto run_out = [](Step& s) { s.AdvanceUntilClosed(60 * 60 * 1000); };
  for (int id : {ids::kAboutTemplate, ids::kSmartTemplate, ids::kHelpTemplate,
                 ids::kSelfTestResultTemplate, ids::kWarningTemplate, ids::kSureTemplate,
                 ids::kEraseMbrDoneTemplate, ids::kEraseDiskDoneTemplate, ids::kLogSavedTemplate,
                 ids::kSurfaceResultTemplate}) {
    ui.answers[id] = press(IDOK);
  }
  for (int id : {ids::kSelfTestProgressTemplate, ids::kEraseDiskTemplate, ids::kSurfaceTemplate}) {
    ui.answers[id] = run_out;
  }
  ui.answers[ids::kLogViewTemplate] = [&ui](Step& s) {
    s.Press(ids::log_view::kSaveToFile).Do([&ui](ui::Dialog&) {
      ui.Expect(ids::kLogViewTemplate).Press(IDOK);
    });
  };
  Step& first = ui.Expect(ids::kMainTemplate);
  flow.main(ui, first);
  {
    plovix::CPlovixApp app(bench, bench);
    app.InitInstance();
  }
  for (const auto& p : ui.problems) ADD_FAILURE() << flow.name << ": " << p;
  for (auto& [id, s] : ui.seen) {
    Seen& all = into[id];
    all.captions.insert(s.captions.begin(), s.captions.end());
    all.texts.resize(s.texts.size());
    all.fonts.resize(s.fonts.size());
    all.lists.resize(s.lists.size());
    for (std::size_t i = 0; i < s.texts.size(); ++i) {
      all.texts[i].insert(s.texts[i].begin(), s.texts[i].end());
      if (s.fonts[i]) all.fonts[i] = s.fonts[i];
      if (s.lists[i].rows.size() >= all.lists[i].rows.size() && !s.lists[i].columns.empty()) {
        all.lists[i] = s.lists[i];
      }
    }
  }
}

void SmallBench(sim::Bench& bench, const std::function<void(sim::DriveSpec&)>& tweak) {
  bench.AddSata(0, SmallDrive("SYSDISK0001"));
  bench.AddVolume('C', 0);
  sim::DriveSpec chosen = SmallDrive("CHOSEN03");
  tweak(chosen);
  bench.AddSata(kChosen, chosen);
}

// The main window: check line 0, then press a button; Escape once back.
std::function<void(Recorder&, Step&)> CheckAndPress(int button) {
  return [button](Recorder& ui, Step& s) {
    s.Check(ids::main_window::kDriveList, 0).Press(button).Do([&ui](ui::Dialog&) {
      ui.Expect(ids::kMainTemplate).Escape();
    });
  };
}

std::function<void(Recorder&, Step&)> Utility(int button) {
  return [button](Recorder& ui, Step& s) {
    ui.answers[ids::kUtilitiesTemplate] = [button](Step& u) { u.Press(button); };
    CheckAndPress(ids::main_window::kUtilities)(ui, s);
  };
}

std::vector<Flow> Flows() {
  auto plain = [](sim::Bench& b) { SmallBench(b, [](sim::DriveSpec&) {}); };
  return {
      // The demo's drives: every line's SMART status, the help and the About box.
      {"demo", [](sim::Bench& b) { plovix::sim::BuildDemoBench(b); },
       [](Recorder& ui, Step& s) {
         s.Advance(6000).Do([&ui](ui::Dialog& d) {
           const int lines = d.List(ids::main_window::kDriveList).GetItemCount();
           auto next = std::make_shared<std::function<void(int)>>();
           *next = [&ui, lines, next](int line) {
             Step& step = ui.Expect(ids::kMainTemplate);
             if (line < lines) {
               step.DoubleClick(ids::main_window::kDriveList, line).Do([next, line](ui::Dialog&) {
                 (*next)(line + 1);
               });
             } else {
               step.Press(ids::main_window::kHelp).Do([&ui](ui::Dialog&) {
                 ui.Expect(ids::kMainTemplate)
                     .SystemCommand(ui::IDM_ABOUTBOX)
                     .Do([&ui](ui::Dialog&) { ui.Expect(ids::kMainTemplate).Escape(); });
               });
             }
           };
           (*next)(0);
         });
       }},
      {"quick_pass", plain, CheckAndPress(ids::main_window::kQuickTest)},
      {"extended_fails",
       [](sim::Bench& b) {
         SmallBench(b, [](sim::DriveSpec& d) {
           d.extended_test = sim::SelfTestPlan{0x75, 60000};
           d.attributes[2].raw = 12;  // pending sectors: the read-error check fails
         });
       },
       CheckAndPress(ids::main_window::kExtTest)},
      {"quick_aborted", plain,
       [](Recorder& ui, Step& s) {
         ui.answers[ids::kSelfTestProgressTemplate] = [](Step& p) {
           p.Advance(5000).Press(ids::selftest_progress::kAbort);
         };
         ui.answers[ids::kAbortQuestionTemplate] = [](Step& q) { q.Press(IDOK); };
         CheckAndPress(ids::main_window::kQuickTest)(ui, s);
       }},
      {"smart_off",
       [](sim::Bench& b) { SmallBench(b, [](sim::DriveSpec& d) { d.smart_enabled = false; }); },
       [](Recorder& ui, Step& s) {
         s.DoubleClick(ids::main_window::kDriveList, 0).Do([&ui](ui::Dialog&) {
           ui.Expect(ids::kMainTemplate).Escape();
         });
       }},
      {"erase_mbr", plain, Utility(ids::utilities::kEraseMbr)},
      {"erase_disk", plain, Utility(ids::utilities::kEraseDisk)},
      {"surface_short_bad",
       [](sim::Bench& b) { SmallBench(b, [](sim::DriveSpec& d) {
                             d.bad_lbas = {7, 3 * 65535};
                           }); },
       Utility(ids::utilities::kShortTest)},
      {"surface_long", plain, Utility(ids::utilities::kLongTest)},
      {"log_view", plain, Utility(ids::utilities::kLogView)},
  };
}

const std::map<int, Seen>& Harvest() {
  static const std::map<int, Seen> seen = [] {
    std::map<int, Seen> all;
    for (const Flow& flow : Flows()) RunFlow(flow, all);
    return all;
  }();
  return seen;
}

// ---------------------------------------------------------------------------------
// The native side.

int SystemDpi() {
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi;
}

// A vertical scroll bar's width at a DPI, as Windows 10 gives it to a window of that DPI.
int ScrollBarWidth(int dpi) {
  using Fn = int(WINAPI*)(int, UINT);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  const auto get = user32 == nullptr ? nullptr
                                     : reinterpret_cast<Fn>(reinterpret_cast<void*>(
                                           GetProcAddress(user32, "GetSystemMetricsForDpi")));
  return get != nullptr ? get(SM_CXVSCROLL, static_cast<UINT>(dpi))
                        : MulDiv(GetSystemMetrics(SM_CXVSCROLL), dpi, SystemDpi());
}

std::string Narrow(const std::wstring& w) {
  std::string out;
  for (wchar_t c : w) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::wstring TextOf(HWND h) {
  wchar_t buf[1024] = {};
  GetWindowTextW(h, buf, 1024);
  return buf;
}

RECT InParent(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

SIZE Extent(HWND h, const std::wstring& text, UINT flags, int width) {
  HDC dc = GetDC(h);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(h, WM_GETFONT, 0, 0)));
  RECT r{0, 0, width, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, flags | DT_CALCRECT | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(h, dc);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

// Pictures stay inside the rectangles their templates give them (at this DPI): one that
// reaches past shows its background beyond the band it sits in.
std::vector<std::string> PicturesPastTheirPlaces(HWND dlg, const ui::DialogTemplate& t, int dpi) {
  std::vector<std::string> out;
  const std::vector<int> ids = ui::win32::NativeIds(t);
  for (std::size_t i = 0; i < t.controls.size(); ++i) {
    const ui::ControlTemplate& c = t.controls[i];
    if (c.kind != ui::Kind::Bitmap) continue;
    RECT place{c.rect.x, c.rect.y, c.rect.x + c.rect.w, c.rect.y + c.rect.h};
    MapDialogRect(dlg, &place);  // in the dialog's units at the system's DPI
    const int room_w = MulDiv(place.right - place.left, dpi, SystemDpi());
    const int room_h = MulDiv(place.bottom - place.top, dpi, SystemDpi());
    RECT shown{};
    GetClientRect(GetDlgItem(dlg, ids[i]), &shown);
    if (shown.right > room_w + 1 || shown.bottom > room_h + 1) {
      out.push_back("picture #" + std::to_string(i) + " is " + std::to_string(shown.right) + "x" +
                    std::to_string(shown.bottom) + " in " + std::to_string(room_w) + "x" + std::to_string(room_h));
    }
  }
  return out;
}

// What is wrong with the dialog as shown: each line names one control.
std::vector<std::string> Misfits(HWND dlg, const ui::DialogTemplate& t, int dpi) {
  std::vector<std::string> out;
  RECT client{};
  GetClientRect(dlg, &client);
  const std::vector<int> ids = ui::win32::NativeIds(t);
  for (std::size_t i = 0; i < t.controls.size(); ++i) {
    const ui::ControlTemplate& c = t.controls[i];
    HWND h = GetDlgItem(dlg, ids[i]);
    if (h == nullptr) {
      out.push_back("control #" + std::to_string(i) + " missing");
      continue;
    }
    const RECT r = InParent(h);
    const std::string name = "#" + std::to_string(i) + " (" + std::to_string(c.id) + ")";
    if (r.left < 0 || r.top < 0 || r.right > client.right || r.bottom > client.bottom) {
      out.push_back(name + " lies outside the dialog");
    }
    if (c.kind != ui::Kind::Static && c.kind != ui::Kind::Button) continue;
    const std::wstring text = TextOf(h);
    if (text.empty()) continue;
    RECT box{};
    GetClientRect(h, &box);
    int w = box.right;
    int hgt = box.bottom;
    SIZE e{};
    if (c.kind == ui::Kind::Button) {
      w -= 2 * MulDiv(3, dpi, 96);  // the button's edges and focus frame
      e = Extent(h, text, DT_SINGLELINE | DT_NOPREFIX, 0);
    } else if ((c.style & ui::style::kVCenter) != 0) {
      e = Extent(h, text, DT_SINGLELINE | ((c.style & ui::style::kNoPrefix) ? DT_NOPREFIX : 0), 0);
    } else {
      e = Extent(h, text, DT_WORDBREAK | ((c.style & ui::style::kNoPrefix) ? DT_NOPREFIX : 0), w);
    }
    if (e.cx > w || e.cy > hgt) {
      out.push_back(name + " \"" + Narrow(text) + "\" needs " + std::to_string(e.cx) + "x" + std::to_string(e.cy) +
                    " in " + std::to_string(w) + "x" + std::to_string(hgt));
    }
  }
  // The caption shows whole between the window's edges and its buttons.
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof ncm;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0)) {
    const int system = SystemDpi();
    ncm.lfCaptionFont.lfHeight = MulDiv(ncm.lfCaptionFont.lfHeight, dpi, system);
    HFONT font = CreateFontIndirectW(&ncm.lfCaptionFont);
    const std::wstring caption = TextOf(dlg);
    HDC dc = GetDC(dlg);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE e{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &e);
    SelectObject(dc, old);
    ReleaseDC(dlg, dc);
    DeleteObject(font);
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(dlg, GWL_STYLE));
    const int buttons = (style & WS_MINIMIZEBOX) != 0 ? 3 : 1;
    RECT window{};
    GetWindowRect(dlg, &window);
    const int room = window.right - window.left - MulDiv(buttons * GetSystemMetrics(SM_CXSIZE), dpi, system);
    if (e.cx > room) {
      out.push_back("caption \"" + Narrow(caption) + "\" needs " + std::to_string(e.cx) + " in " + std::to_string(room));
    }
  }
  // Columns are pixels at 96 DPI, and each title fits its column.
  for (std::size_t i = 0; i < t.controls.size(); ++i) {
    if (t.controls[i].kind != ui::Kind::ListView) continue;
    HWND list = GetDlgItem(dlg, ids[i]);
    HWND header = list != nullptr ? ListView_GetHeader(list) : nullptr;
    const int n = header != nullptr ? Header_GetItemCount(header) : 0;
    // All columns show side by side, with room for a vertical scroll bar when none
    // shows yet: no reading sideways.
    int columns = 0;
    for (int col = 0; col < n; ++col) columns += ListView_GetColumnWidth(list, col);
    RECT inside{};
    GetClientRect(list, &inside);
    SCROLLBARINFO bar{};
    bar.cbSize = sizeof bar;
    const bool bar_shown = GetScrollBarInfo(list, OBJID_VSCROLL, &bar) &&
                           (bar.rgstate[0] & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN)) == 0;
    const int room_for_bar = bar_shown ? 0 : ScrollBarWidth(dpi);
    if (n > 0 && columns + room_for_bar > inside.right) {
      const std::string bar_need = bar_shown ? "" : " and a scroll bar " + std::to_string(room_for_bar);
      out.push_back("list #" + std::to_string(i) + ": " + std::to_string(n) + " columns need " +
                    std::to_string(columns) + bar_need + " in " + std::to_string(inside.right));
    }
    for (int col = 0; col < n; ++col) {
      wchar_t title[128] = {};
      HDITEMW item{};
      item.mask = HDI_TEXT;
      item.pszText = title;
      item.cchTextMax = 128;
      Header_GetItem(header, col, &item);
      const int width = ListView_GetColumnWidth(list, col);
      const SIZE e = Extent(header, title, DT_SINGLELINE | DT_NOPREFIX, 0);
      if (e.cx + MulDiv(12, dpi, 96) > width) {
        out.push_back("column " + std::to_string(col) + " \"" + Narrow(title) + "\" needs " +
                      std::to_string(e.cx) + " in " + std::to_string(width));
      }
    }
  }
  for (auto& m : PicturesPastTheirPlaces(dlg, t, dpi)) out.push_back(std::move(m));
  return out;
}

// The height of each control's font, in pixels.
std::vector<int> FontHeights(HWND dlg, const ui::DialogTemplate& t) {
  std::vector<int> heights;
  for (int id : ui::win32::NativeIds(t)) {
    LOGFONTW lf{};
    HWND h = GetDlgItem(dlg, id);
    auto font = reinterpret_cast<HFONT>(h != nullptr ? SendMessageW(h, WM_GETFONT, 0, 0) : 0);
    if (font != nullptr) GetObjectW(font, sizeof lf, &lf);
    heights.push_back(std::abs(lf.lfHeight));
  }
  return heights;
}

int ColumnWidth(HWND dlg, const ui::DialogTemplate& t, std::size_t index, int col) {
  return ListView_GetColumnWidth(GetDlgItem(dlg, ui::win32::NativeIds(t)[index]), col);
}

void SaveBitmap(HWND hwnd, const std::string& path) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  BITMAPINFOHEADER bi{};
  bi.biSize = sizeof bi;
  bi.biWidth = w;
  bi.biHeight = h;
  bi.biPlanes = 1;
  bi.biBitCount = 24;
  const int stride = (w * 3 + 3) & ~3;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h));
  // A window shown a moment ago may not have reached the screen yet: its copy comes out
  // black. Let it be drawn and try again.
  for (int attempt = 0; attempt < 50; ++attempt) {
    RedrawWindow(hwnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    GdiFlush();
    HGDIOBJ old = SelectObject(mem, bmp);
    HDC window = GetWindowDC(hwnd);
    BitBlt(mem, 0, 0, w, h, window, 0, 0, SRCCOPY);
    ReleaseDC(hwnd, window);
    SelectObject(mem, old);
    GetDIBits(mem, bmp, 0, static_cast<UINT>(h), pixels.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
    if (std::any_of(pixels.begin(), pixels.end(), [](std::uint8_t b) { return b != 0; })) break;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(20);
  }
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof bi;
  fh.bfSize = static_cast<DWORD>(fh.bfOffBits + pixels.size());
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(&fh, sizeof fh, 1, f);
    std::fwrite(&bi, sizeof bi, 1, f);
    std::fwrite(pixels.data(), 1, pixels.size(), f);
    std::fclose(f);
  }
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
}

// One showing of a template with one of the texts seen in each control.
class Showing : public ui::Dialog {
 public:
  Showing(const ui::DialogTemplate& t, const Seen& seen, std::size_t variant, std::function<void(HWND)> check)
      : ui::Dialog(t.id), seen_(seen), variant_(variant), check_(std::move(check)) {}

  bool OnInitDialog() override {
    ui::Dialog::OnInitDialog();
    if (!seen_.captions.empty()) SetCaption(Pick(seen_.captions));
    const auto& cs = controls();
    for (std::size_t i = 0; i < cs.size() && i < seen_.texts.size(); ++i) {
      ui::Control& c = *cs[i];
      if (seen_.fonts[i]) c.SetFont(*seen_.fonts[i]);
      if (!seen_.texts[i].empty() && c.kind() != ui::Kind::ListView) c.SetText(Pick(seen_.texts[i]));
      if (auto* list = dynamic_cast<ui::ListCtrl*>(&c); list != nullptr && !seen_.lists[i].columns.empty()) {
        const ListSnapshot& snap = seen_.lists[i];
        list->SetExtendedStyle(snap.ext_style);
        list->SetImageList(snap.images);
        for (std::size_t col = 0; col < snap.columns.size(); ++col) {
          list->InsertColumn(static_cast<int>(col), snap.columns[col].title, snap.columns[col].format,
                             snap.columns[col].width);
        }
        for (std::size_t row = 0; row < snap.rows.size(); ++row) {
          const auto& texts = snap.rows[row];
          list->InsertItem(static_cast<int>(row), texts.empty() ? "" : texts[0], snap.row_images[row]);
          for (std::size_t sub = 1; sub < texts.size(); ++sub) {
            list->SetItemText(static_cast<int>(row), static_cast<int>(sub), texts[sub]);
          }
        }
      }
    }
    SetTimer(1, 10);
    return true;
  }

  void OnTimer(int timer_id) override {
    KillTimer(timer_id);
    check_(static_cast<HWND>(ui::win32::Win32Backend::NativeWindow(*this)));
    EndDialog(1);
  }

 private:
  const std::string& Pick(const std::set<std::string>& from) const {
    auto it = from.begin();
    std::advance(it, static_cast<long>(variant_ % from.size()));
    return *it;
  }
  const Seen& seen_;
  std::size_t variant_;
  std::function<void(HWND)> check_;
};

std::size_t Variants(const Seen& seen) {
  std::size_t n = std::max<std::size_t>(1, seen.captions.size());
  for (const auto& texts : seen.texts) n = std::max(n, texts.size());
  return n;
}

class NativeLayout : public testing::TestWithParam<int> {};

TEST_P(NativeLayout, EveryTextFitsAtThisDpiAndAfterAMoveToAHigherOne) {
  const int id = GetParam();
  const ui::DialogTemplate* t = ui::FindTemplate(id);
  ASSERT_NE(t, nullptr);
  const auto& harvest = Harvest();
  auto it = harvest.find(id);
  ASSERT_NE(it, harvest.end()) << "no flow showed template " << id;
  const Seen& seen = it->second;

  const int dpi = SystemDpi();
  if (const char* want = std::getenv("PLOVIX_EXPECT_DPI")) {
    ASSERT_EQ(dpi, std::atoi(want));
  }
  const char* shots = std::getenv("PLOVIX_SHOT_DIR");

  ui::win32::Win32Backend backend;
  for (std::size_t v = 0; v < Variants(seen); ++v) {
    Showing showing(*t, seen, v, [&](HWND hwnd) {
      ASSERT_NE(hwnd, nullptr);
      for (const auto& m : Misfits(hwnd, *t, dpi)) ADD_FAILURE() << "at " << dpi << " DPI, variant " << v << ": " << m;
      if (shots != nullptr) {
        SaveBitmap(hwnd, std::string(shots) + "/" + std::to_string(id) + "-" + std::to_string(dpi) + "-" +
                             std::to_string(v) + ".bmp");
      }
      // The window moves to a monitor of half as much DPI again.
      const int higher = dpi * 3 / 2;
      RECT r{};
      GetWindowRect(hwnd, &r);
      RECT suggested{r.left, r.top, r.left + MulDiv(r.right - r.left, 3, 2), r.top + MulDiv(r.bottom - r.top, 3, 2)};
      std::vector<int> widths_before;
      for (std::size_t i = 0; i < t->controls.size(); ++i) {
        if (t->controls[i].kind != ui::Kind::ListView) continue;
        for (int col = 0; col < static_cast<int>(seen.lists[i].columns.size()); ++col) {
          widths_before.push_back(ColumnWidth(hwnd, *t, i, col));
        }
      }
      const std::vector<int> heights_before = FontHeights(hwnd, *t);
      SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(higher, higher), reinterpret_cast<LPARAM>(&suggested));
      const std::vector<int> heights_higher = FontHeights(hwnd, *t);
      for (std::size_t i = 0; i < heights_before.size(); ++i) {
        EXPECT_NEAR(heights_higher[i], heights_before[i] * 3 / 2, 1) << "font of control #" << i;
      }
      for (const auto& m : Misfits(hwnd, *t, higher)) {
        ADD_FAILURE() << "after a move to " << higher << " DPI, variant " << v << ": " << m;
      }
      std::size_t k = 0;
      for (std::size_t i = 0; i < t->controls.size(); ++i) {
        if (t->controls[i].kind != ui::Kind::ListView) continue;
        for (int col = 0; col < static_cast<int>(seen.lists[i].columns.size()); ++col, ++k) {
          EXPECT_NEAR(ColumnWidth(hwnd, *t, i, col), widths_before[k] * 3 / 2, 1) << "column " << col;
        }
      }
      // And back again.
      GetWindowRect(hwnd, &r);
      suggested = RECT{r.left, r.top, r.left + MulDiv(r.right - r.left, 2, 3), r.top + MulDiv(r.bottom - r.top, 2, 3)};
      SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
      for (const auto& m : Misfits(hwnd, *t, dpi)) {
        ADD_FAILURE() << "after a move back to " << dpi << " DPI, variant " << v << ": " << m;
      }
      EXPECT_EQ(FontHeights(hwnd, *t), heights_before);
      k = 0;
      for (std::size_t i = 0; i < t->controls.size(); ++i) {
        if (t->controls[i].kind != ui::Kind::ListView) continue;
        for (int col = 0; col < static_cast<int>(seen.lists[i].columns.size()); ++col, ++k) {
          EXPECT_NEAR(ColumnWidth(hwnd, *t, i, col), widths_before[k], 1) << "column " << col;
        }
      }
    });
    EXPECT_EQ(showing.DoModal(), 1) << "variant " << v;
  }
}

std::vector<int> TemplateIds() {
  std::vector<int> ids;
  for (const auto& t : ui::AllTemplates()) ids.push_back(t.id);
  return ids;
}

INSTANTIATE_TEST_SUITE_P(Templates, NativeLayout, testing::ValuesIn(TemplateIds()),
                         [](const testing::TestParamInfo<int>& p) { return "template" + std::to_string(p.param); });

// The pixel values the program gives are meant at 96 DPI: columns and a pixel font
// come out half as large again at 144.
TEST(NativeDpi, ColumnsAndPixelFontsFollowTheWindowsDpi) {
  const int dpi = SystemDpi();
  const auto& harvest = Harvest();
  const ui::DialogTemplate* t = ui::FindTemplate(ids::kMainTemplate);
  ASSERT_NE(t, nullptr);
  const Seen& seen = harvest.at(ids::kMainTemplate);
  ui::win32::Win32Backend backend;
  Showing showing(*t, seen, 0, [&](HWND hwnd) {
    for (std::size_t i = 0; i < t->controls.size(); ++i) {
      if (t->controls[i].kind == ui::Kind::ListView) {
        const auto& columns = seen.lists[i].columns;
        ASSERT_FALSE(columns.empty());
        for (std::size_t col = 0; col < columns.size(); ++col) {
          EXPECT_EQ(ColumnWidth(hwnd, *t, i, static_cast<int>(col)), MulDiv(columns[col].width, dpi, 96));
        }
      }
      if (seen.fonts[i] && seen.fonts[i]->tenths_of_point != 0) {
        HWND h = GetDlgItem(hwnd, ui::win32::NativeIds(*t)[i]);
        LOGFONTW lf{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)), sizeof lf, &lf);
        EXPECT_EQ(lf.lfHeight, -MulDiv(seen.fonts[i]->tenths_of_point, dpi, 720)) << "control #" << i;
      }
    }
  });
  EXPECT_EQ(showing.DoModal(), 1);
}

// A list widened for its columns stays within the screen: on one too narrow for it the
// dialog takes the screen's whole width and the list scrolls sideways for the rest.
TEST(NativeDpi, AListTooWideForTheScreenScrollsWithinItsWorkArea) {
  const int dpi = SystemDpi();
  const ui::DialogTemplate* t = ui::FindTemplate(ids::kSmartTemplate);
  ASSERT_NE(t, nullptr);
  const Seen& seen = Harvest().at(ids::kSmartTemplate);
  // The shortest caption, so the caption is not what needs the width.
  std::size_t variant = 0;
  std::size_t k = 0;
  for (auto it = seen.captions.begin(); it != seen.captions.end(); ++it, ++k) {
    if (it->size() < std::next(seen.captions.begin(), static_cast<long>(variant))->size()) variant = k;
  }
  std::size_t list_index = t->controls.size();
  for (std::size_t i = 0; i < t->controls.size(); ++i) {
    if (t->controls[i].kind == ui::Kind::ListView) list_index = i;
  }
  ASSERT_LT(list_index, t->controls.size());
  ui::win32::Win32Backend backend;
  Showing showing(*t, seen, variant, [&](HWND hwnd) {
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &mi));
    const int screen = mi.rcWork.right - mi.rcWork.left;
    HWND list = GetDlgItem(hwnd, ui::win32::NativeIds(*t)[list_index]);
    RECT r{};
    GetWindowRect(hwnd, &r);
    RECT client{};
    GetClientRect(hwnd, &client);
    const int frame = (r.right - r.left) - client.right;
    RECT as_made{0, 0, t->width, 0};
    MapDialogRect(hwnd, &as_made);
    const int made = as_made.right + frame;
    const int widened = r.right - r.left;
    ASSERT_GT(widened, made) << "the list is wider than its template";
    // A DPI at which the dialog as its template makes it fits the screen, and widened
    // for every column it would not.
    const int higher = MulDiv(dpi, 2 * screen, made + widened);
    ASSERT_LT(MulDiv(made, higher, dpi), screen);
    ASSERT_GT(MulDiv(widened, higher, dpi), screen);
    RECT suggested{mi.rcWork.left, r.top, mi.rcWork.left + MulDiv(widened, higher, dpi),
                   r.top + MulDiv(r.bottom - r.top, higher, dpi)};
    SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(higher, higher), reinterpret_cast<LPARAM>(&suggested));
    GetWindowRect(hwnd, &r);
    EXPECT_LE(r.right - r.left, screen);
    EXPECT_GE(r.right - r.left, screen - 1) << "the list takes what room the screen has";
    SCROLLBARINFO bar{};
    bar.cbSize = sizeof bar;
    ASSERT_TRUE(GetScrollBarInfo(list, OBJID_HSCROLL, &bar));
    EXPECT_EQ(bar.rgstate[0] & STATE_SYSTEM_INVISIBLE, 0u) << "the rest of the columns is a scroll away";
    GetClientRect(hwnd, &client);
    EXPECT_LE(InParent(list).right, client.right);
  });
  EXPECT_EQ(showing.DoModal(), 1);
}

}  // namespace
