// Every flow with a fault injected at every command position it sends: the program runs
// to its end, never reports success for a command that failed, never writes outside the
// run the user chose, and leaves exactly the log records its outcome names.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CPlovixApp.h"
#include "app/CPlovixDlg.h"
#include "diagnostics/Erase.h"
#include "diagnostics/NvmeSupport.h"
#include "diagnostics/RunPlan.h"
#include "diagnostics/Surface.h"
#include "diagnostics/Utilities.h"
#include "diagnostics/WorkerDialog.h"
#include "drive/NvmeCommands.h"
#include "resources/ResourceIds.h"
#include "tests/support/auto_user.h"
#include "tests/support/utils_rig.h"

namespace plovix::testing_utils {
namespace {

using ui::scripted::Step;

constexpr int kChosen = 3;     // the drive the user picks (line 0)
constexpr int kOther = 5;      // a drive nobody chose (line 1)
constexpr std::uint64_t kTotal = 3 * 65535 + 5;
constexpr std::uint64_t kBlocks4k = 3 * 8192 + 3;
constexpr std::uint8_t kReadData = 0xD0;
constexpr std::uint8_t kStartSelfTest = 0xD4;
constexpr std::uint8_t kRegisterWrite = 0xFE;
constexpr std::uint8_t kReadThresholds = 0xD1;
const std::string kHealthyLine = "        SMART Status      : Healthy";
const std::string kUnknownLine = "        SMART Status      : Unknown";

enum class Flow {
  Scan,
  SmartStatus,
  SmartEnable,
  QuickTest,
  ExtendedTest,
  EraseMbr,
  EraseDisk,
  SurfaceShort,
  SurfaceLong,
  LogView,
};

const char* Name(Flow flow) {
  switch (flow) {
    case Flow::Scan: return "scan";
    case Flow::SmartStatus: return "smart_status";
    case Flow::SmartEnable: return "smart_enable";
    case Flow::QuickTest: return "quick_test";
    case Flow::ExtendedTest: return "extended_test";
    case Flow::EraseMbr: return "erase_mbr";
    case Flow::EraseDisk: return "erase_disk";
    case Flow::SurfaceShort: return "surface_short";
    case Flow::SurfaceLong: return "surface_long";
    case Flow::LogView: return "log_view";
  }
  return "?";
}

// How the chosen drive is attached. On the NVMe benches the system disk is NVMe too.
enum class Medium { Sata, Usb, Nvme512, Nvme4k };

const char* Name(Medium medium) {
  switch (medium) {
    case Medium::Sata: return "sata";
    case Medium::Usb: return "usb";
    case Medium::Nvme512: return "nvme512";
    case Medium::Nvme4k: return "nvme4k";
  }
  return "?";
}

bool IsNvme(Medium medium) { return medium == Medium::Nvme512 || medium == Medium::Nvme4k; }

const char* Name(sim::FaultEffect effect) {
  switch (effect) {
    case sim::FaultEffect::CallFails: return "call_fails";
    case sim::FaultEffect::Timeout: return "timeout";
    case sim::FaultEffect::AtaError: return "ata_error";
    case sim::FaultEffect::CheckCondition: return "check_condition";
    case sim::FaultEffect::NvmeError: return "nvme_error";
    case sim::FaultEffect::Refused: return "refused";
    default: return "other";
  }
}

// The SMART feature of a request, in whichever block carried it.
std::uint8_t Feature(const sim::Received& r) {
  if (!r.scsi) return r.ata.CurrentTaskFile[kTfFeature];
  const auto* cdb = r.scsi_request.Cdb;
  switch (cdb[0]) {
    case 0x85: return cdb[4];
    case 0xA1: return cdb[3];
    case 0xDF: return cdb[5];
    default: return 0;
  }
}

bool IsWrite(const Cmd& c) { return c.opcode == kWriteBuffer || c.opcode == kErase; }

bool IsErase(Flow flow) { return flow == Flow::EraseMbr || flow == Flow::EraseDisk; }

// An erase's look at the drive it opened, before it writes: IDENTIFY DEVICE (direct or
// through the bridge), or NVMe Identify.
bool IsIdentityRead(const sim::Received& r) {
  if (r.nvme) return IsAdmin(DecodeNvme(r), kNvmeIdentify);
  return Decode(r).opcode == kIdentify;
}

// READ NATIVE MAX ADDRESS EXT, which the notice before an erase's warning sends.
bool IsNoticeRead(const sim::Received& r) { return !r.nvme && Decode(r).opcode == 0x27; }

// The erase's own identity check: the last identity read before the first write.
std::size_t IdentityCheckAt(const std::vector<sim::Received>& requests) {
  std::size_t at = requests.size();
  for (std::size_t i = 0; i < requests.size(); ++i) {
    if (!requests[i].nvme && IsWrite(Decode(requests[i]))) break;
    if (requests[i].nvme && IsIo(DecodeNvme(requests[i]), kNvmeWriteZeroes)) break;
    if (IsIdentityRead(requests[i])) at = i;
  }
  return at;
}

// The SMART Status line of the saved "ZUL_TEST.LOG", or "" when there is none.
std::string SavedSmartLine() {
  std::FILE* f = std::fopen("ZUL_TEST.LOG", "rb");
  if (f == nullptr) return "";
  std::string all;
  for (int c; (c = std::fgetc(f)) != EOF;) all += static_cast<char>(c);
  std::fclose(f);
  const std::size_t at = all.find("        SMART Status      : ");
  if (at == std::string::npos) return "";
  return all.substr(at, all.find("\r\n", at) - at);
}

struct Outcome {
  std::vector<sim::Received> requests;  // what the flow sent (after the start-up scan)
  std::vector<std::string> status;      // Status column at the end
  int listed = 0;                       // drive list lines at the end
  std::vector<std::string> boxes;
  std::string smart_line;  // the SMART Status line of a saved report, if one was saved
  bool failed = false;
  std::size_t pending = 0;
  std::vector<std::string> problems;
};

class FaultMatrix {
 public:
  FaultMatrix(Flow flow, Medium medium) : flow_(flow) {
    bench_.SetClock([this] { return ui_.now_ms(); });
    const bool usb = medium == Medium::Usb;
    if (IsNvme(medium)) {
      bench_.AddNvme(0, BenchNvmeSpec("SYSDISK0001", 1000000, 512));
      const std::uint32_t block_bytes = medium == Medium::Nvme512 ? 512 : 4096;
      bench_.AddNvme(kChosen, BenchNvmeSpec("CHOSEN03", block_bytes == 512 ? kTotal : kBlocks4k,
                                            block_bytes));
      bench_.AddSata(kOther, BenchDriveSpec("OTHER005", kTotal));
      bench_.AddVolume('C', 0);
      WriteEarlierLog(flow);
      Answer();
      return;
    }
    bench_.AddSata(0, BenchDriveSpec("SYSDISK0001", 976773168));
    bench_.AddVolume('C', 0);
    sim::DriveSpec chosen = BenchDriveSpec("CHOSEN03", kTotal);
    if (flow == Flow::SmartEnable) chosen.smart_enabled = false;
    // An earlier self-test that failed: a test that never starts cannot pass on it.
    chosen.selftest_status = 0x75;
    if (usb) {
      bench_.AddUsb(kChosen, chosen, BenchBridgeSpec("CHOSEN03"));
    } else {
      bench_.AddSata(kChosen, chosen);
    }
    bench_.AddSata(kOther, BenchDriveSpec("OTHER005", kTotal));
    WriteEarlierLog(flow);
    Answer();
  }

  // The chosen drive's log holds an earlier record, so the log view has a report to show.
  static void WriteEarlierLog(Flow flow) {
    if (flow != Flow::LogView) return;
    std::FILE* f = std::fopen("CHOSEN03.log", "wb");
    std::fputs("SMART QT\r\nDone\r\nPass\r\n03/14/2012 09:00:00\r\n", f);
    std::fclose(f);
  }



  // Runs the flow; with a fault, it hits the request at this position of the flow.
  Outcome Run(std::optional<sim::Fault> fault) {
    Outcome out;
    if (flow_ == Flow::Scan && fault) bench_.AddFault(*fault);
    Step& step = ui_.Expect(ids::kMainTemplate).Do([this, fault](ui::Dialog&) {
      if (flow_ == Flow::Scan) return;
      bench_.ClearLog();
      if (fault) bench_.AddFault(*fault);
    });
    auto finish = [this, &out](ui::Dialog& d) {
      out.listed = d.List(ids::main_window::kDriveList).GetItemCount();
      for (int i = 0; i < out.listed; ++i) {
        out.status.push_back(d.List(ids::main_window::kDriveList).GetItemText(i, kStatusColumn));
      }
    };
    switch (flow_) {
      case Flow::Scan:
        step.Do(finish).Escape();
        break;
      case Flow::SmartStatus:
      case Flow::SmartEnable:
        step.DoubleClick(ids::main_window::kDriveList, 0);
        break;
      case Flow::QuickTest:
        step.Check(ids::main_window::kDriveList, 0).Press(ids::main_window::kQuickTest);
        break;
      case Flow::ExtendedTest:
        step.Check(ids::main_window::kDriveList, 0).Press(ids::main_window::kExtTest);
        break;
      default:
        step.Check(ids::main_window::kDriveList, 0).Press(ids::main_window::kUtilities);
        break;
    }
    if (flow_ != Flow::Scan) {
      step.Do([this, finish](ui::Dialog&) { ui_.Expect(ids::kMainTemplate).Do(finish).Escape(); });
    }
    if (flow_ == Flow::Scan) bench_.ClearLog();
    {
      CPlovixApp app(bench_, bench_);
      app.InitInstance();
    }
    out.requests = bench_.Log();
    out.smart_line = SavedSmartLine();
    out.boxes.clear();
    for (const auto& box : ui_.message_boxes()) out.boxes.push_back(box.text);
    out.failed = ui_.failed();
    out.pending = ui_.pending_steps();
    out.problems = ui_.problems;
    return out;
  }

  sim::Bench& bench() { return bench_; }

 private:
  // A user who wants the flow done: accepts every confirmation and notice and lets
  // every progress dialog run to its end.
  void Answer() {
    auto press = [](int id) { return [id](Step& s) { s.Press(id); }; };
    auto run_out = [](Step& s) { s.AdvanceUntilClosed(30 * 60 * 1000); };
    // A worker's own pace is real time (a refused Verify turns into reads of the whole
    // disk): wait for its end, then let the next tick close the dialog.
    auto work_out = [](Step& s) {
      s.Do([](ui::Dialog& d) {
         auto& worker = dynamic_cast<WorkerDialog&>(d);
         ASSERT_TRUE(WaitUntil([&] { return worker.finished.load() != 0; }));
       }).AdvanceUntilClosed(30 * 60 * 1000);
    };
    ui_.answers[ids::kWarningTemplate] = press(ui::IDOK);
    ui_.answers[ids::kSureTemplate] = press(ui::IDOK);
    ui_.answers[ids::kSmartTemplate] = press(ui::IDOK);
    ui_.answers[ids::kSelfTestProgressTemplate] = run_out;
    ui_.answers[ids::kSelfTestResultTemplate] = press(ui::IDOK);
    ui_.answers[ids::kEraseDiskTemplate] = work_out;
    ui_.answers[ids::kEraseMbrDoneTemplate] = press(ui::IDOK);
    ui_.answers[ids::kEraseDiskDoneTemplate] = press(ui::IDOK);
    ui_.answers[ids::kSurfaceTemplate] = work_out;
    ui_.answers[ids::kSurfaceResultTemplate] = press(ui::IDOK);
    ui_.answers[ids::kLogSavedTemplate] = press(ui::IDOK);
    // The log view: save the report, then close the viewer.
    ui_.answers[ids::kLogViewTemplate] = [this](Step& s) {
      s.Press(ids::log_view::kSaveToFile).Do([this](ui::Dialog&) {
        ui_.Expect(ids::kLogViewTemplate).Press(ui::IDOK);
      });
    };
    int button = 0;
    switch (flow_) {
      case Flow::EraseMbr: button = ids::utilities::kEraseMbr; break;
      case Flow::EraseDisk: button = ids::utilities::kEraseDisk; break;
      case Flow::SurfaceShort: button = ids::utilities::kShortTest; break;
      case Flow::SurfaceLong: button = ids::utilities::kLongTest; break;
      case Flow::LogView: button = ids::utilities::kLogView; break;
      default: break;
    }
    if (button != 0) ui_.answers[ids::kUtilitiesTemplate] = press(button);
  }

  Flow flow_;
  TempCwd cwd_;
  AutoUser ui_;
  sim::Bench bench_;
};

// The records of a log as "tag=result" pairs.
std::vector<std::string> Records(const std::string& serial) {
  const auto lines = LogFileLines(serial);
  std::vector<std::string> records;
  for (std::size_t i = 0; i + 3 < lines.size(); i += 4) {
    records.push_back(lines[i] + "=" + lines[i + 2]);
  }
  if (lines.size() % 4 != 0) records.push_back("(torn record)");
  return records;
}

std::vector<std::string> LogFiles() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    if (entry.path().extension() == ".log") names.push_back(entry.path().filename().string());
  }
  return names;
}

struct MatrixCase {
  Flow flow;
  Medium medium;
};

class ReliabilityFaultMatrix : public ::testing::TestWithParam<MatrixCase> {};

// Checks one faulted run against what its fault allows.
void CheckOutcome(Flow flow, const Outcome& clean, const Outcome& out, std::size_t k,
                  sim::FaultEffect effect, sim::Bench& bench) {
  for (const auto& p : out.problems) ADD_FAILURE() << p;
  EXPECT_FALSE(out.failed);
  EXPECT_EQ(out.pending, 0u);
  ASSERT_GT(out.requests.size(), k);

  // The fault hit request k: it is the same request the clean run sent there.
  const sim::Received& hit = out.requests[k];
  const Cmd hit_cmd = Decode(hit);
  EXPECT_EQ(Decode(clean.requests[k]), hit_cmd);
  const bool hit_write = IsWrite(hit_cmd);
  // An erase that cannot read who the drive is takes it for another one: nothing written.
  // The notice's reads before the warning only lose the notice.
  const std::size_t identity_at = IdentityCheckAt(clean.requests);
  const bool hit_notice = IsErase(flow) && k < identity_at;
  const bool hit_identity = IsErase(flow) && k == identity_at;
  // A drive that refuses the vendor fill before anything was written by it is erased by
  // the system's writes instead.
  bool erased_before = false;
  for (std::size_t i = 0; i < k; ++i) erased_before |= Decode(out.requests[i]).opcode == kErase;
  const bool refused_fill = IsWrite(hit_cmd) && !erased_before &&
                            effect != sim::FaultEffect::CallFails &&
                            effect != sim::FaultEffect::Timeout;
  const bool completed = hit_notice || refused_fill;
  const bool hit_verify = hit_cmd.opcode == kReadVerify;
  // The start, or the bridge's register write that must go before it.
  const bool hit_start = (hit_cmd.opcode == kSmart && Feature(hit) == kStartSelfTest) ||
                         (hit_cmd.scsi && hit_cmd.cdb0 == 0xDF && hit_cmd.opcode == 0xFE);
  // The read-error check is the flow's first SMART READ DATA.
  std::size_t first_read = out.requests.size();
  for (std::size_t i = 0; i < out.requests.size(); ++i) {
    const Cmd c = Decode(out.requests[i]);
    if (c.opcode == kSmart && Feature(out.requests[i]) == kReadData) {
      first_read = i;
      break;
    }
  }
  const bool hit_read_error_check = k == first_read;

  // Writes: only on the chosen drive, only inside the run the user chose.
  for (std::size_t i = 0; i < out.requests.size(); ++i) {
    const Cmd c = Decode(out.requests[i]);
    if (!IsWrite(c)) continue;
    EXPECT_EQ(out.requests[i].drive_number, kChosen) << "write #" << i;
    if (flow == Flow::EraseMbr) {
      if (c.opcode == kErase) {
        EXPECT_EQ(c, (Cmd{.opcode = kErase, .lba = 0, .count = 1}));
      }
    } else if (flow == Flow::EraseDisk) {
      if (c.opcode == kErase) {
        EXPECT_LE(c.lba + c.count, kTotal) << c;
      }
    } else {
      ADD_FAILURE() << Name(flow) << " wrote " << c;
    }
    // No retries, and nothing after a failed write.
    if (hit_write) {
      EXPECT_LE(i, k) << "write after the failed one: " << c;
    }
    if (hit_identity) ADD_FAILURE() << "write after a failed identity read: " << c;
  }
  // How far the chosen drive was zeroed: to the end of the last run erased before the fault.
  std::uint64_t erased_to = 0;
  for (std::size_t i = 0; i < k; ++i) {
    const Cmd c = Decode(out.requests[i]);
    if (c.opcode == kErase) erased_to = c.lba + c.count;
  }

  const std::string status = out.status.empty() ? "" : out.status[0];
  const auto records = Records("CHOSEN03");
  using V = std::vector<std::string>;
  switch (flow) {
    case Flow::Scan:
    case Flow::SmartStatus:
    case Flow::SmartEnable:
      EXPECT_TRUE(LogFiles().empty());
      EXPECT_LE(out.listed, clean.listed + 1);
      // The system disk is told by the identity behind volume C:. When that volume
      // opens but cannot be identified, the disk cannot be told and is listed too;
      // any other failure only loses the drive that failed.
      if (out.listed > clean.listed) {
        EXPECT_EQ(hit.path, VolumePath('C'));
      }
      break;
    case Flow::QuickTest:
    case Flow::ExtendedTest: {
      const std::string tag = flow == Flow::QuickTest ? "SMART QT" : "SMART ET";
      const std::string read = hit_read_error_check ? "ComErr" : "Pass";
      // A test that did not start counts as failed, whatever the drive remembers of its
      // earlier test (see FaultMatrix).
      EXPECT_EQ(status, hit_start ? "Failure" : "Completed");
      EXPECT_EQ(records, (V{"ReadErrStat=" + read, tag + (hit_start ? "=Fail" : "=Pass")}));
      break;
    }
    case Flow::EraseMbr:
      if (hit_identity) {
        EXPECT_EQ(status, "Drive Changed");
        EXPECT_EQ(records, V{});
        EXPECT_EQ(out.boxes, (V{kDriveChangedText}));
        break;
      }
      if (refused_fill) {
        EXPECT_EQ(status, "Completed");
        EXPECT_EQ(records, (V{"Erase MBR=Completed (operating-system writes)"}));
        EXPECT_EQ(out.boxes, (V{"The MBR was erased by operating-system writes."}));
        EXPECT_TRUE(bench.Drive(kChosen).IsZeroed(0, 1));
        EXPECT_EQ(bench.Drive(kChosen).ReadSector(1), sim::PatternSector(1));
        break;
      }
      EXPECT_EQ(status, "Failure");
      EXPECT_EQ(records, (V{"Erase MBR=Failed"}));
      EXPECT_EQ(out.boxes, (V{"!!! Erase MBR Fail !!!"}));
      break;
    case Flow::EraseDisk: {
      if (hit_identity) {
        EXPECT_EQ(status, "Drive Changed");
        EXPECT_EQ(records, V{});
        EXPECT_EQ(out.boxes, (V{kDriveChangedText}));
      } else if (completed) {
        EXPECT_EQ(status, "Completed");
        EXPECT_EQ(records, (V{refused_fill ? "Erase Disk=Completed (operating-system writes)"
                                           : "Erase Disk=Completed"}));
        ASSERT_EQ(out.boxes.size(), 1u);
        EXPECT_TRUE(out.boxes[0].starts_with("Erased by ")) << out.boxes[0];
        EXPECT_TRUE(bench.Drive(kChosen).IsZeroed(0, kTotal));
        break;
      } else {
        EXPECT_EQ(status, "Failure");
        EXPECT_EQ(records, (V{"Erase Disk=Failed"}));
        ASSERT_EQ(out.boxes.size(), 1u);
        EXPECT_TRUE(out.boxes[0].starts_with("!!! Erase Disk Fail !!!")) << out.boxes[0];
      }
      // Zeroed exactly up to the end of the last run erased before the failure.
      EXPECT_TRUE(bench.Drive(kChosen).IsZeroed(0, erased_to));
      if (erased_to < kTotal) {
        EXPECT_EQ(bench.Drive(kChosen).ReadSector(erased_to), sim::PatternSector(erased_to));
      }
      break;
    }
    case Flow::SurfaceShort:
    case Flow::SurfaceLong: {
      const std::string tag = flow == Flow::SurfaceShort ? "SURFACE QT" : "SURFACE ET";
      const std::string read = hit_read_error_check ? "ComErr" : "Pass";
      EXPECT_EQ(status, hit_verify ? "Failure" : "Completed");
      EXPECT_EQ(records, (V{"ReadErrStat=" + read, tag + (hit_verify ? "=Fail" : "=Pass")}));
      if (hit_verify) {
        // The scan stops at the failed run.
        for (std::size_t i = k + 1; i < out.requests.size(); ++i) {
          EXPECT_NE(Decode(out.requests[i]).opcode, kReadVerify) << "verify after the failed one";
        }
      }
      break;
    }
    case Flow::LogView:
      // Every request of the view is one of its SMART reads or the drive's own verdict:
      // whichever fails, the other still tells the healthy drive apart, and nothing else
      // changes.
      EXPECT_EQ(out.smart_line, kHealthyLine);
      EXPECT_EQ(status, clean.status[0]);
      EXPECT_EQ(records, (V{"SMART QT=Pass"}));
      EXPECT_TRUE(out.boxes.empty());
      break;
  }
  // Sector 0 keeps its pattern unless an erase run before the fault zeroed it.
  if (erased_to == 0 && !completed) {
    EXPECT_EQ(bench.Drive(kChosen).ReadSector(0), sim::PatternSector(0));
  }
  if (hit_identity) {
    EXPECT_EQ(bench.Drive(kChosen).ReadSector(kTotal - 1), sim::PatternSector(kTotal - 1));
  }
  EXPECT_EQ(bench.Drive(kOther).ReadSector(0), sim::PatternSector(0));
  EXPECT_EQ(bench.Drive(0).ReadSector(0), sim::PatternSector(0));
  // Nobody else's log was touched.
  EXPECT_TRUE(Records("OTHER005").empty());
  EXPECT_TRUE(Records("SYSDISK0001").empty());
  if (flow != Flow::Scan && flow != Flow::SmartEnable) {
    // The drive nobody chose keeps its line and its Status.
    ASSERT_EQ(out.status.size(), clean.status.size());
    ASSERT_EQ(out.status.size(), 2u);
    EXPECT_EQ(out.status[1], clean.status[1]);
  }
}

// The NVMe request at a position, or none for an ATA or SCSI one.
std::optional<NvmeCmd> NvmeAt(const Outcome& out, std::size_t i) {
  if (i >= out.requests.size() || !out.requests[i].nvme) return std::nullopt;
  return DecodeNvme(out.requests[i]);
}

bool IsNvmeWrite(const NvmeCmd& c) {
  return c.queue == NvmeQueue::Io && (c.opcode == kNvmeWrite || c.opcode == kNvmeWriteZeroes);
}

// Checks one faulted run on an NVMe bench against what its fault allows. A refused
// Verify or Write Zeroes has another way (reads, zero writes); any other failure of a
// step is that step's failure, told as such.
void CheckNvmeOutcome(Flow flow, Medium medium, const Outcome& clean, const Outcome& out,
                      std::size_t k, sim::FaultEffect effect, sim::Bench& bench) {
  for (const auto& p : out.problems) ADD_FAILURE() << p;
  EXPECT_FALSE(out.failed);
  EXPECT_EQ(out.pending, 0u);
  ASSERT_GT(out.requests.size(), k);
  const std::optional<NvmeCmd> hit = NvmeAt(out, k);
  EXPECT_EQ(NvmeAt(clean, k), hit);
  if (!hit) {
    EXPECT_EQ(Decode(clean.requests[k]), Decode(out.requests[k]));
  }
  const bool refused = effect == sim::FaultEffect::Refused;
  const std::uint32_t block_bytes = medium == Medium::Nvme512 ? 512 : 4096;
  const std::uint64_t blocks = block_bytes == 512 ? kTotal : kBlocks4k;
  const std::uint64_t per_block = block_bytes / 512;
  using V = std::vector<std::string>;
  V boxes;
  if (flow == Flow::EraseMbr && block_bytes != 512) boxes.push_back(MbrBlockNote(block_bytes));
  // As on ATA: an erase that cannot read who the drive is writes nothing, however the
  // read failed (a refusal included).
  const bool hit_identity = IsErase(flow) && IsIdentityRead(out.requests[k]);

  // Writes: only NVMe writes, only to the chosen drive, inside its namespace.
  for (std::size_t i = 0; i < out.requests.size(); ++i) {
    const sim::Received& r = out.requests[i];
    if (!r.nvme) {
      EXPECT_FALSE(IsWrite(Decode(r))) << "ATA write #" << i;
      continue;
    }
    const NvmeCmd c = DecodeNvme(r);
    if (!IsNvmeWrite(c)) continue;
    EXPECT_FALSE(hit_identity) << "write after a failed identity read: " << c;
    EXPECT_EQ(r.drive_number, kChosen) << c;
    EXPECT_LE(c.slba + c.blocks, blocks) << c;
    if (flow == Flow::EraseMbr) {
      EXPECT_EQ(c.slba, 0u) << c;
      EXPECT_EQ(c.blocks, 1u) << c;
    } else if (flow != Flow::EraseDisk) {
      ADD_FAILURE() << Name(flow) << " wrote " << c;
    }
  }

  const std::string status = out.status.empty() ? "" : out.status[0];
  const auto records = Records("CHOSEN03");
  const sim::VirtualMedia& chosen = bench.Media(kChosen);
  const bool hit_health = hit && IsLogRead(*hit, kNvmeLogHealth);
  const std::string read = hit_health ? "ComErr" : "Pass";
  if (hit_health && refused) boxes.push_back(nvme_text::kHealthRefused);
  bool sector0_zeroed = false;
  switch (flow) {
    case Flow::Scan:
    case Flow::SmartStatus:
      EXPECT_TRUE(LogFiles().empty());
      EXPECT_LE(out.listed, clean.listed + 1);
      // As on ATA: a volume C: that cannot be identified leaves its disk untold.
      if (out.listed > clean.listed) {
        EXPECT_EQ(out.requests[k].path, VolumePath('C'));
      }
      // A drive whose identify failed in the scan is named, not left out unsaid (garbage
      // or a lost answer may still decode). The SATA drive is named by its ATA IDENTIFY,
      // a namespace by its NVMe Identify.
      if (const sim::Received& r = out.requests[k];
          flow == Flow::Scan && IsIdentityRead(r) && r.path == PhysicalDrivePath(r.drive_number) &&
          r.nvme == (r.drive_number != kOther)) {
        const std::string told = "These drives cannot be reached and are not listed: Drive " +
                                 std::to_string(r.drive_number) +
                                 (r.nvme ? " (an NVMe namespace that answered no Identify)."
                                         : " (answered no ATA or NVMe identify).");
        const bool may_decode =
            effect == sim::FaultEffect::Garbage || effect == sim::FaultEffect::Lost;
        if (!may_decode || out.boxes.size() > boxes.size()) boxes.push_back(told);
      }
      EXPECT_EQ(out.boxes, boxes);
      break;
    case Flow::QuickTest:
    case Flow::ExtendedTest: {
      const std::string tag = flow == Flow::QuickTest ? "SMART QT" : "SMART ET";
      if (hit && IsAdmin(*hit, kNvmeSelfTest)) {
        // A test that did not start counts as failed; the box says why.
        EXPECT_EQ(status, "Failure");
        EXPECT_EQ(records, (V{"ReadErrStat=Pass", tag + "=Fail"}));
        boxes.push_back(refused ? nvme_text::kSelfTestStartRefused : nvme_text::kSelfTestNotStarted);
      } else {
        // The look before the start, or a poll: the next poll reads again.
        EXPECT_EQ(status, "Completed");
        EXPECT_EQ(records, (V{"ReadErrStat=" + read, tag + "=Pass"}));
      }
      EXPECT_EQ(out.boxes, boxes);
      break;
    }
    case Flow::EraseMbr: {
      const bool hit_flush = hit && IsIo(*hit, kNvmeFlush);
      if (hit_identity) {
        EXPECT_EQ(status, "Drive Changed");
        EXPECT_EQ(records, V{});
        boxes.push_back(kDriveChangedText);
      } else if (refused) {
        EXPECT_EQ(status, "Completed");
        EXPECT_EQ(records, (V{"Erase MBR=Completed (NVMe Write Zeroes)"}));
        boxes.push_back("The MBR was erased by NVMe Write Zeroes.");
        sector0_zeroed = true;
      } else {
        EXPECT_EQ(status, "Failure");
        EXPECT_EQ(records, (V{"Erase MBR=Failed"}));
        boxes.push_back("!!! Erase MBR Fail !!!");
        sector0_zeroed = hit_flush;  // written, but not known to be on the media
      }
      EXPECT_EQ(out.boxes, boxes);
      break;
    }
    case Flow::EraseDisk: {
      const bool hit_flush = hit && IsIo(*hit, kNvmeFlush);
      if (hit_identity) {
        EXPECT_EQ(status, "Drive Changed");
        EXPECT_EQ(records, V{});
        boxes.push_back(kDriveChangedText);
      } else if (refused || hit_flush) {
        EXPECT_EQ(status, refused ? "Completed" : "Failure");
        EXPECT_EQ(records, (V{refused ? "Erase Disk=Completed (NVMe Write Zeroes)" : "Erase Disk=Failed"}));
        EXPECT_TRUE(chosen.IsZeroed(0, blocks * per_block));
        sector0_zeroed = true;
        boxes.push_back(refused ? "Erased by " : "!!! Erase Disk Fail !!!");
      } else {
        EXPECT_EQ(status, "Failure");
        EXPECT_EQ(records, (V{"Erase Disk=Failed"}));
        boxes.push_back("!!! Erase Disk Fail !!!");
        // Zeroed exactly up to the end of the last run written before the failure.
        std::uint64_t erased_to = 0;
        for (std::size_t i = 0; i < k; ++i) {
          const auto c = NvmeAt(out, i);
          if (c && IsNvmeWrite(*c)) erased_to = c->slba + c->blocks;
        }
        EXPECT_TRUE(chosen.IsZeroed(0, erased_to * per_block));
        const std::uint64_t next = erased_to * per_block;
        EXPECT_EQ(chosen.ReadSector(next), sim::PatternSector(next));
        sector0_zeroed = erased_to > 0;
        for (std::size_t i = k + 1; i < out.requests.size(); ++i) {
          const auto c = NvmeAt(out, i);
          EXPECT_FALSE(c && IsNvmeWrite(*c)) << "write after the failed one: " << *c;
        }
      }
      // The result's box names the LBA and what was answered: compared by its start.
      ASSERT_EQ(out.boxes.size(), boxes.size());
      for (std::size_t b = 0; b < boxes.size(); ++b) {
        EXPECT_TRUE(out.boxes[b].starts_with(boxes[b])) << out.boxes[b];
      }
      break;
    }
    case Flow::SurfaceShort:
    case Flow::SurfaceLong: {
      const std::string tag = flow == Flow::SurfaceShort ? "SURFACE QT" : "SURFACE ET";
      const bool hit_verify = hit && IsIo(*hit, kNvmeVerify);
      const bool fails = hit_verify && !refused;
      EXPECT_EQ(status, fails ? "Failure" : "Completed");
      EXPECT_EQ(records, (V{"ReadErrStat=" + read, tag + (fails ? "=Fail" : "=Pass")}));
      if (fails) {
        for (std::size_t i = k + 1; i < out.requests.size(); ++i) {
          const auto c = NvmeAt(out, i);
          EXPECT_FALSE(c && c->queue == NvmeQueue::Io) << "read after the failed one: " << *c;
        }
      }
      EXPECT_EQ(out.boxes, boxes);
      break;
    }
    case Flow::LogView:
      // As on ATA, and a refused health log is not told in a box of its own: the report
      // says Unknown.
      EXPECT_EQ(out.smart_line, kUnknownLine);
      EXPECT_EQ(status, clean.status[0]);
      EXPECT_EQ(records, (V{"SMART QT=Pass"}));
      EXPECT_TRUE(out.boxes.empty());
      break;
    case Flow::SmartEnable:
      break;
  }
  EXPECT_EQ(chosen.ReadSector(0) == sim::PatternSector(0), !sector0_zeroed);
  if (hit_identity) {
    const std::uint64_t last = blocks * per_block - 1;
    EXPECT_EQ(chosen.ReadSector(last), sim::PatternSector(last));
  }
  EXPECT_EQ(bench.Drive(kOther).ReadSector(0), sim::PatternSector(0));
  EXPECT_EQ(bench.Media(0).ReadSector(0), sim::PatternSector(0));
  EXPECT_TRUE(Records("OTHER005").empty());
  EXPECT_TRUE(Records("SYSDISK0001").empty());
  if (flow != Flow::Scan) {
    ASSERT_EQ(out.status.size(), 2u);
    ASSERT_EQ(clean.status.size(), 2u);
    EXPECT_EQ(out.status[1], clean.status[1]);
  }
}

TEST_P(ReliabilityFaultMatrix, EveryPositionEveryEffect) {
  const MatrixCase& c = GetParam();
  const bool usb = c.medium == Medium::Usb;
  const bool nvme = IsNvme(c.medium);

  // A clean run first: the flow's commands, in order.
  Outcome clean;
  {
    FaultMatrix rig(c.flow, c.medium);
    clean = rig.Run(std::nullopt);
    for (const auto& p : clean.problems) ADD_FAILURE() << "clean run: " << p;
    ASSERT_FALSE(clean.failed);
    EXPECT_EQ(clean.pending, 0u);
  }
  ASSERT_FALSE(clean.requests.empty());
  if (c.flow == Flow::LogView) {
    // Viewing and saving a log reads the chosen drive's SMART state once, as the view
    // opens, and judges it healthy; it sends nothing else.
    EXPECT_EQ(clean.smart_line, kHealthyLine);
    std::vector<std::string> sent;
    for (const sim::Received& r : clean.requests) {
      EXPECT_EQ(r.drive_number, kChosen);
      if (r.nvme) {
        sent.push_back(IsLogRead(DecodeNvme(r), kNvmeLogHealth) ? "health log" : "other");
      } else {
        const bool read = Decode(r).opcode == kSmart &&
                          (Feature(r) == kReadData || Feature(r) == kReadThresholds);
        const bool own = Decode(r).opcode == kSmart && Feature(r) == 0xDA;
        sent.push_back(read ? "smart read" : own ? "own verdict" : "other");
      }
    }
    using V = std::vector<std::string>;
    EXPECT_EQ(sent, nvme ? V{"health log"} : (V{"smart read", "smart read", "own verdict"}));
  }
  if (IsErase(c.flow)) {
    // An erase reads the chosen drive's identity first, and only then writes: one
    // IDENTIFY DEVICE, or Identify Controller and Identify Namespace; never again later.
    // Erase Disk on ATA reads the identity and the native size for the notice before the
    // warning as well.
    std::vector<std::string> sent;
    for (const sim::Received& r : clean.requests) {
      EXPECT_EQ(r.drive_number, kChosen);
      sent.push_back(IsIdentityRead(r) ? "identity" : IsNoticeRead(r) ? "native max" : "other");
    }
    using V = std::vector<std::string>;
    const V first = nvme ? V{"identity", "identity"}
                    : c.flow == Flow::EraseDisk ? V{"identity", "native max", "identity"}
                                                : V{"identity"};
    ASSERT_GT(sent.size(), first.size());
    EXPECT_EQ(V(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(first.size())), first);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "identity"),
              std::count(first.begin(), first.end(), "identity"));
  }

  std::vector<sim::FaultEffect> effects{sim::FaultEffect::CallFails, sim::FaultEffect::Timeout};
  if (nvme) {
    effects.push_back(sim::FaultEffect::NvmeError);
    effects.push_back(sim::FaultEffect::Refused);
  } else {
    effects.push_back(usb ? sim::FaultEffect::CheckCondition : sim::FaultEffect::AtaError);
  }
  int cases = 0;
  for (sim::FaultEffect effect : effects) {
    for (std::size_t k = 0; k < clean.requests.size(); ++k) {
      SCOPED_TRACE(std::string(Name(effect)) + " at #" + std::to_string(k) + " " +
                   (clean.requests[k].nvme ? ::testing::PrintToString(DecodeNvme(clean.requests[k]))
                                           : ::testing::PrintToString(Decode(clean.requests[k]))));
      FaultMatrix rig(c.flow, c.medium);
      sim::Fault fault;
      fault.effect = effect;
      fault.match.skip = static_cast<int>(k);
      fault.match.times = 1;
      const Outcome out = rig.Run(fault);
      if (nvme) {
        CheckNvmeOutcome(c.flow, c.medium, clean, out, k, effect, rig.bench());
      } else {
        CheckOutcome(c.flow, clean, out, k, effect, rig.bench());
      }
      ++cases;
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
  RecordProperty("cases", cases);
  std::printf("[ matrix   ] %s/%s: %d faulted runs over %zu positions\n", Name(c.flow),
              Name(c.medium), cases, clean.requests.size());
}

std::vector<MatrixCase> AllCases() {
  std::vector<MatrixCase> cases;
  for (Flow flow : {Flow::Scan, Flow::SmartStatus, Flow::SmartEnable, Flow::QuickTest,
                    Flow::ExtendedTest, Flow::EraseMbr, Flow::EraseDisk, Flow::SurfaceShort,
                    Flow::SurfaceLong, Flow::LogView}) {
    cases.push_back({flow, Medium::Sata});
    cases.push_back({flow, Medium::Usb});
    // An NVMe drive has no SMART to switch on.
    if (flow == Flow::SmartEnable) continue;
    cases.push_back({flow, Medium::Nvme512});
    cases.push_back({flow, Medium::Nvme4k});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Flows, ReliabilityFaultMatrix, ::testing::ValuesIn(AllCases()),
                         [](const auto& p) {
                           return std::string(Name(p.param.flow)) + "_" + Name(p.param.medium);
                         });

}  // namespace
}  // namespace plovix::testing_utils
