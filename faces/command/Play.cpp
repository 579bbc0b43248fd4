// A command played through the program's own windows: the main window scans, the
// buttons a user would press are pressed, every warning a user would accept is accepted
// (the erases only once the serial was confirmed), and what each window says is kept.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "app/CPlovixApp.h"
#include "app/CPlovixDlg.h"
#include "diagnostics/CTestResult.h"
#include "diagnostics/CTestdlg.h"
#include "diagnostics/Confirm.h"
#include "diagnostics/DriveCaption.h"
#include "diagnostics/Erase.h"
#include "diagnostics/Surface.h"
#include "diagnostics/Utilities.h"
#include "faces/command/Run.h"
#include "faces/scripted/ScriptedBackend.h"
#include "reports/LogReport.h"
#include "resources/ResourceIds.h"
#include "ui/Backend.h"

namespace plovix::command {

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

// Long enough for any drive's extended self-test; the simulated clock is not held to it.
constexpr unsigned kLongestWaitMs = 48u * 3600u * 1000u;

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) {
    if (!line.empty()) text += (text.empty() ? "" : "\n") + line;
  }
  return text;
}

// What a dialog says: a result's lines each with the label it stands beside; for any
// other dialog its static texts in template order. The hint of which button to push
// means nothing where there is no button.
std::string DialogText(ui::Dialog& dlg) {
  if (const auto* test = dynamic_cast<CTestResult*>(&dlg)) {
    return Lines({test->title_text, test->subtitle_text, "SmartSelfTest: " + test->selftest_text,
                  "ReadErrorCheck: " + test->read_error_text});
  }
  if (const auto* scan = dynamic_cast<CSFTestResult*>(&dlg)) {
    return Lines({scan->title_text, scan->subtitle_text, "ReadErrorCheck: " + scan->read_error_text,
                  "SurfaceTest: " + scan->surface_text, scan->failed_run_text, scan->reads_note_text});
  }
  std::string text;
  for (const auto& control : dlg.controls()) {
    if (control->kind() != ui::Kind::Static || control->text().empty()) continue;
    if (control->text().starts_with("Please push")) continue;
    text += (text.empty() ? "" : "\n") + control->text();
  }
  return text;
}

int ProgressPercent(ui::Dialog& dlg) {
  for (const auto& control : dlg.controls()) {
    const auto* bar = dynamic_cast<const ui::ProgressCtrl*>(control.get());
    if (bar == nullptr || bar->hi() <= bar->lo()) continue;
    const int pos = std::clamp(bar->pos(), bar->lo(), bar->hi());
    return (pos - bar->lo()) * 100 / (bar->hi() - bar->lo());
  }
  return 0;
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() <= 3 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

class PlayingUser : public ui::scripted::ScriptedBackend {
 public:
  PlayingUser(const Request& request, const PlaySetup& setup, RunResult& result)
      : ScriptedBackend(setup.start_time != 0 ? setup.start_time : std::time(nullptr)),
        request_(request),
        setup_(setup),
        result_(result) {
    if (setup.real_time) FollowRealTime();
    SetFailureHandler([this](const std::string& why) {
      result_.script_failed = true;
      result_.refusals.push_back("The command cannot go on: " + why + ".");
    });
  }

  void RunModalLoop(ui::Dialog& dlg) override {
    if (!dlg.end_requested()) Answer(dlg);
    ScriptedBackend::RunModalLoop(dlg);
  }

  int MessageBox(const std::string& text, const std::string& caption, unsigned type) override {
    if (main_shown_) {
      result_.said.push_back(Said{caption, text});
    } else {
      result_.notices.push_back(text);
    }
    ExpectMessageBoxNext(text).Press(ui::IDOK);
    return ScriptedBackend::MessageBox(text, caption, type);
  }

 private:
  void Answer(ui::Dialog& dlg) {
    const int id = dlg.template_id();
    if (id == ids::kMainTemplate) {
      Expect(id).Do([this](ui::Dialog& d) { MainWindow(static_cast<CPlovixDlg&>(d)); }).Escape();
    } else if (id == ids::kUtilitiesTemplate) {
      Expect(id).Press(menu_button_);
    } else if (id == ids::kSelfTestProgressTemplate && !request_.wait) {
      // The drive runs its test on its own: the result then says it still runs.
      Expect(id).Escape();
    } else if (id == ids::kSelfTestProgressTemplate || id == ids::kSurfaceTemplate ||
               id == ids::kEraseDiskTemplate) {
      Expect(id).AdvanceUntilClosed(kLongestWaitMs, 1000, [this](ui::Dialog& d) { Progress(d); });
    } else if (id == ids::kWarningTemplate &&
               static_cast<CEraseWarning1&>(dlg).warning_kind ==
                   static_cast<std::uint8_t>(WarningKind::SmartDisabled)) {
      // Switching SMART on is a change to the drive nobody asked the command for.
      result_.said.push_back(Said{dlg.caption(), DialogText(dlg)});
      Expect(id).Escape();
    } else {
      Keep(dlg);
      Expect(id).Press(ui::IDOK);
    }
  }

  // A result or a completion: what it says, and whether its read-error check failed.
  void Keep(ui::Dialog& dlg) {
    const int id = dlg.template_id();
    if (id == ids::kSelfTestResultTemplate || id == ids::kSurfaceResultTemplate) {
      const auto* test = dynamic_cast<CTestResult*>(&dlg);
      const auto* scan = dynamic_cast<CSFTestResult*>(&dlg);
      const int code = test != nullptr ? test->read_error_code : scan != nullptr ? scan->read_error_code : 0;
      const std::string& caption = test != nullptr ? test->drive_caption : scan != nullptr ? scan->drive_caption : "";
      for (DriveResult& drive : result_.drives) {
        // A check that could not run (ComErr) says nothing against the drive.
        if (code == kReadErrorFail && DriveCaption(drive.record) == caption) drive.read_error_failed = true;
      }
    }
    // The warnings and confirmations are the questions; only what followed them is kept.
    if (id != ids::kWarningTemplate && id != ids::kSureTemplate) {
      result_.said.push_back(Said{dlg.caption(), DialogText(dlg)});
    }
  }

  void Progress(ui::Dialog& dlg) {
    if (Interrupted()) {
      // As Escape: the host's own work aborts, the drive's own test goes on.
      dlg.OnCancel();
      return;
    }
    if (setup_.progress == nullptr || !request_.wait) return;
    const int percent = ProgressPercent(dlg);
    if (percent == last_percent_) return;
    last_percent_ = percent;
    *setup_.progress << dlg.caption() << ": " << percent << "%" << std::endl;
  }

  void MainWindow(CPlovixDlg& main) {
    main_shown_ = true;
    // The notice of unsupported USB drives comes a moment after start-up; a command
    // does not wait for it.
    if (main.unsupported_usb.count != 0) {
      main_shown_ = false;
      main.OnTimer(kUnsupportedTimer);
      main_shown_ = true;
    }
    std::vector<int> lines;
    if (!FindLines(main, lines)) return;
    for (int line : lines) {
      DriveResult drive;
      drive.record = main.drive_table.records[line];
      result_.drives.push_back(std::move(drive));
    }

    switch (request_.command) {
      case Command::List:
        // Everything the scan met and left out, with why, as the empty list's notice names it.
        result_.left_out = main.device_io.UnreachableDrives();
        for (const auto* more : {&main.scan_notes.silent, &main.scan_notes.system}) {
          result_.left_out.insert(result_.left_out.end(), more->begin(), more->end());
        }
        for (const std::string& other : main.device_io.OtherDisks()) result_.left_out.push_back(other);
        break;
      case Command::Smart:
      case Command::Report:
      case Command::Log:
        for (DriveResult& drive : result_.drives) Read(main, drive);
        break;
      case Command::SelfTest:
        for (int line : lines) main.drive_list().SetCheck(line, true);
        main.OnCommand(request_.kind == 2 ? ids::main_window::kExtTest
                                          : ids::main_window::kQuickTest);
        TakeStatuses(main, lines);
        break;
      case Command::Surface:
      case Command::EraseMbr:
      case Command::EraseDisk:
        if (!Confirmed()) return;
        menu_button_ = request_.command == Command::EraseMbr    ? ids::utilities::kEraseMbr
                       : request_.command == Command::EraseDisk ? ids::utilities::kEraseDisk
                       : request_.kind == 2                     ? ids::utilities::kLongTest
                                                                : ids::utilities::kShortTest;
        // One drive at a time, as a user would: the utilities act on the checked drive.
        for (std::size_t i = 0; i < lines.size(); ++i) {
          const int line = FindSlotByDriveNumber(main.drive_table, result_.drives[i].record.drive_number);
          if (line < 0) {
            result_.drives[i].status = "Not Listed";
            continue;
          }
          if (Interrupted()) {
            result_.refusals.push_back("Interrupted: drive " + std::to_string(result_.drives[i].record.drive_number) +
                                       " was not touched.");
            result_.exit |= 8;
            continue;
          }
          for (int other = 0; other < main.drive_list().GetItemCount(); ++other) {
            main.drive_list().SetCheck(other, other == line);
          }
          main.OnCommand(ids::main_window::kUtilities);
          result_.drives[i].status = main.drive_list().GetItemText(line, kStatusColumn);
        }
        break;
    }
  }

  // The lines of the drives named; false, with why, when one is not listed.
  bool FindLines(CPlovixDlg& main, std::vector<int>& lines) {
    const DriveTable& table = main.drive_table;
    if (request_.command == Command::List || (request_.drives.size() == 1 && request_.drives[0] == "all")) {
      for (int i = 0; i < table.count; ++i) lines.push_back(i);
      return true;
    }
    for (const std::string& name : request_.drives) {
      int found = -1;
      for (int i = 0; i < table.count && found < 0; ++i) {
        const DriveRecord& r = table.records[i];
        if ((IsNumber(name) && std::atoi(name.c_str()) == r.drive_number) || Field(r.serial) == name) found = i;
      }
      if (found < 0) {
        result_.not_found.push_back(NotListedWhy(main, name));
      } else if (std::find(lines.begin(), lines.end(), found) == lines.end()) {
        lines.push_back(found);
      }
    }
    if (!result_.not_found.empty()) {
      result_.exit |= 2;
      lines.clear();
      return false;
    }
    return true;
  }

  // What the scan said of a drive it did not list, found by the name the system gives it.
  std::string NotListedWhy(CPlovixDlg& main, const std::string& name) {
    if (IsNumber(name)) {
      const std::string system_name = main.device_io.DriveName(std::atoi(name.c_str()));
      std::vector<std::string> notes = main.device_io.UnreachableDrives();
      for (const auto* more : {&main.scan_notes.system, &main.scan_notes.silent}) {
        notes.insert(notes.end(), more->begin(), more->end());
      }
      for (const std::string& note : notes) {
        if (note.starts_with(system_name + " (") && note.back() == ')') {
          const std::size_t open = system_name.size() + 2;
          std::string why = "drive " + name + " is not listed: ";
          why += system_name;
          why += ' ';
          why += note.substr(open, note.size() - open - 1);
          return why;
        }
      }
    }
    return "drive " + name + " is not listed";
  }

  // An erase needs every drive's serial typed; otherwise nothing at all is done.
  bool Confirmed() {
    if (request_.command == Command::Surface) return true;
    for (const DriveResult& drive : result_.drives) {
      const std::string serial = Field(drive.record.serial);
      if (std::find(request_.confirm.begin(), request_.confirm.end(), serial) != request_.confirm.end()) continue;
      result_.refusals.push_back("Drive " + std::to_string(drive.record.drive_number) + " (" +
                                 Field(drive.record.model) + ") was not confirmed: --confirm " +
                                 "must give its serial exactly. Nothing was written.");
    }
    if (result_.refusals.empty()) return true;
    result_.exit |= 1;
    return false;
  }

  void Read(CPlovixDlg& main, DriveResult& drive) {
    const DriveRecord& r = drive.record;
    const std::string serial = Field(r.serial);
    if (request_.command != Command::Log) drive.verdict = main.ReadSmartVerdict(r);
    if (drive.verdict == SmartVerdict::Failing) result_.exit |= 4;
    if (request_.command == Command::Smart) {
      // As the SMART status dialog reads them.
      if (r.nvme == 1) {
        drive.smart_read = main.ReadNvmeHealth(r, DriveCaption(r));
        drive.health = main.nvme_health;
      } else if (r.smart_supported == 1 && r.smart_enabled == 1) {
        // Read as the verdict reads them: a drive without a self-test has attributes too.
        main.smart_table = SmartAttributeTable{};
        main.smart_others = SmartOtherAttributes{};
        main.selected_behind_bridge = r.behind_bridge;
        main.ReadSmartAttributes(r.drive_number, Transport{r.via_scsi, r.behind_bridge});
        drive.table = main.smart_table;
        drive.others = main.smart_others;
        drive.smart_read = drive.table.rows[0].id != 0 || drive.others.count != 0;
      }
    }
    drive.read_at = ui::Now();
    // The JSON document streams the records itself, from the log.
    if (request_.command == Command::Report && request_.format == Format::Text) {
      drive.report = BuildLogReportText(serial, Field(r.model), Field(r.firmware), r.total_sectors,
                                        drive.verdict, drive.read_at, "\n");
    }
    // The report reads the log itself; the metrics want the last self-test.
    if (request_.command != Command::Report) drive.log = ReadLogRecords(serial);
  }

  void TakeStatuses(CPlovixDlg& main, const std::vector<int>& lines) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      result_.drives[i].status = main.drive_list().GetItemText(lines[i], kStatusColumn);
    }
  }

  const Request& request_;
  const PlaySetup& setup_;
  RunResult& result_;
  bool main_shown_ = false;
  int menu_button_ = 0;
  int last_percent_ = -1;
};

// The exit bits of what the drives' lines say after the command.
int StatusBits(const RunResult& result) {
  int bits = 0;
  for (const DriveResult& drive : result.drives) {
    if (drive.status.empty()) continue;
    if (drive.status == "Now Test Execute") {
      bits |= 16;
    } else if (drive.status != "Completed" || drive.read_error_failed) {
      bits |= 8;
    }
  }
  return bits;
}

}  // namespace

void Interrupt() { g_interrupted.store(true); }
bool Interrupted() { return g_interrupted.load(); }
void ClearInterrupt() { g_interrupted.store(false); }

RunResult Play(const Request& request, const PlaySetup& setup) {
  RunResult result;
  {
    PlayingUser user(request, setup, result);
    CPlovixApp(*setup.io, *setup.catalog).InitInstance();
    if (user.pending_steps() != 0) result.script_failed = true;
  }
  result.exit |= StatusBits(result);
  if (result.script_failed) result.exit |= 8;
  return result;
}

std::string Field(const char* chars, std::size_t size) {
  std::size_t n = 0;
  while (n < size && chars[n] != 0) ++n;
  while (n > 0 && chars[n - 1] == ' ') --n;
  std::size_t from = 0;
  while (from < n && chars[from] == ' ') ++from;
  return std::string(chars + from, n - from);
}

}  // namespace plovix::command
