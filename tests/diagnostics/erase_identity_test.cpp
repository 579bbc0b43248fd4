// An erase writes only to the drive that was listed: the list is not refreshed when drives
// come and go, so between the scan and the erase the same number may name another disk.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/Erase.h"
#include "diagnostics/Utilities.h"
#include "tests/support/utils_rig.h"
#include "resources/ResourceIds.h"
#include "ui/Backend.h"

namespace plovix::testing_utils {
namespace {

constexpr int kChosen = 3;
constexpr std::uint64_t kSectors = 5000;

enum class Kind { Sata, Usb, Nvme };
enum class Utility { EraseMbr, EraseDisk };

struct SwapCase {
  std::string name;
  Kind kind;
  Utility utility;
  // What happens to drive kChosen after the scan listed it, before the erase opens it.
  std::function<void(UtilsRig&, sim::Bench&)> meanwhile;
  bool refused;  // the drive is not the listed one: nothing written, the user told
};

void PrintTo(const SwapCase& c, std::ostream* os) { *os << c.name; }

// Another drive plugged in where the listed one was.
std::function<void(UtilsRig&, sim::Bench&)> Replace(Kind kind, const std::string& serial,
                                                    std::uint64_t sectors) {
  return [=](UtilsRig&, sim::Bench& bench) {
    bench.RemoveDrive(kChosen);
    switch (kind) {
      case Kind::Sata: bench.AddSata(kChosen, BenchDriveSpec(serial, sectors)); break;
      case Kind::Usb: bench.AddUsb(kChosen, BenchDriveSpec(serial, sectors), BenchBridgeSpec(serial)); break;
      case Kind::Nvme: bench.AddNvme(kChosen, BenchNvmeSpec(serial, sectors, 512)); break;
    }
  };
}

std::function<void(UtilsRig&, sim::Bench&)> IdentityFails(Kind kind) {
  return [=](UtilsRig&, sim::Bench& bench) {
    sim::Fault fault;
    fault.match.drive_number = kChosen;
    if (kind == Kind::Nvme) {
      fault.match.nvme_queue = NvmeQueue::Admin;
      fault.match.nvme_opcode = kNvmeIdentify;
      fault.effect = sim::FaultEffect::NvmeError;
    } else {
      fault.match.ata_command = 0xEC;  // IDENTIFY DEVICE, also inside the bridge's block
      fault.effect = sim::FaultEffect::AtaError;
    }
    bench.AddFault(fault);
  };
}

int Shown(const ui::scripted::ScriptedBackend& ui, int template_id) {
  int n = 0;
  for (int id : ui.opened_dialogs()) n += id == template_id ? 1 : 0;
  return n;
}

void Nothing(UtilsRig&, sim::Bench&) {}

class EraseIdentity : public UtilsRig, public ::testing::WithParamInterface<SwapCase> {};

TEST_P(EraseIdentity, WritesOnlyToTheListedDrive) {
  const SwapCase& c = GetParam();
  switch (c.kind) {
    case Kind::Sata: AddSata(kChosen, kSectors, "LISTED03"); break;
    case Kind::Usb: AddUsb(kChosen, kSectors, "LISTED03"); break;
    case Kind::Nvme: AddNvme(kChosen, BenchNvmeSpec("LISTED03", kSectors, 512)); break;
  }
  AddSata(5, kSectors, "OTHER0005");

  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate)
      .Do([&](ui::Dialog&) { c.meanwhile(*this, bench); })
      .Press(c.utility == Utility::EraseMbr ? ids::utilities::kEraseMbr
                                            : ids::utilities::kEraseDisk);
  ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
  ui.Expect(ids::kSureTemplate).Press(ui::IDOK);
  std::string status_under_box = "(no box)";
  ui.on_message_box = [&](const std::string&) {
    status_under_box = main_window->drive_list().GetItemText(0, kStatusColumn);
  };
  if (c.refused) {
    ui.ExpectMessageBox(kDriveChangedText).Press(ui::IDOK);
  } else if (c.utility == Utility::EraseMbr) {
    ui.Expect(ids::kEraseMbrDoneTemplate).Press(ui::IDOK);
    if (c.kind == Kind::Nvme) ui.ExpectMessageBoxStarting("The MBR was erased by ").Press(ui::IDOK);
  } else {
    // The eraser runs on its own thread: the virtual clock moves on once it is done.
    ui.Expect(ids::kEraseDiskTemplate)
        .Do([](ui::Dialog& d) {
          auto& erase = dynamic_cast<CEraseDisk&>(d);
          ASSERT_TRUE(WaitUntil([&] { return erase.finished.load() != 0; }));
        })
        .AdvanceUntilClosed(10000);
    ui.Expect(ids::kEraseDiskDoneTemplate).Press(ui::IDOK);
    ui.ExpectMessageBoxStarting("Erased by ").Press(ui::IDOK);
  }
  End();
  Run();

  const std::string tag = c.utility == Utility::EraseMbr ? "Erase MBR" : "Erase Disk";
  sim::VirtualMedia& media = bench.Media(kChosen);
  if (c.refused) {
    ASSERT_EQ(ui.message_boxes().size(), 1u);
    EXPECT_EQ(ui.message_boxes()[0].caption.find(ui::AppTitle()), 0u);
    EXPECT_EQ(status_under_box, "Drive Changed");
    EXPECT_EQ(status.at(0), "Drive Changed");
    EXPECT_EQ(Shown(ui, ids::kEraseDiskTemplate), 0);
    EXPECT_EQ(media.ReadSector(0), sim::PatternSector(0));
    EXPECT_EQ(media.ReadSector(kSectors - 1), sim::PatternSector(kSectors - 1));
    // Nothing that writes reached it: only the identity was read.
    for (const Cmd& cmd : Commands(kChosen)) {
      EXPECT_TRUE(cmd.opcode != kWriteBuffer && cmd.opcode != kErase) << cmd;
    }
    for (const NvmeCmd& cmd : NvmeCommands(kChosen)) {
      EXPECT_EQ(cmd.queue, NvmeQueue::Admin) << cmd;
      EXPECT_EQ(cmd.opcode, kNvmeIdentify) << cmd;
    }
    // Neither the listed drive's history nor the newcomer's says anything was done.
    EXPECT_TRUE(LogLines("LISTED03").empty());
    EXPECT_TRUE(LogLines("SWAPPED03").empty());
  } else {
    for (const auto& box : ui.message_boxes()) {  // only the result's own word on the method
      EXPECT_TRUE(box.text.starts_with("Erased by ") || box.text.starts_with("The MBR was erased"))
          << box.text;
    }
    EXPECT_EQ(status.at(0), "Completed");
    EXPECT_TRUE(media.IsZeroed(0, 1));
    if (c.utility == Utility::EraseDisk) {
      EXPECT_TRUE(media.IsZeroed(0, kSectors));
    }
    ASSERT_EQ(LogLines("LISTED03").size(), 4u);
    EXPECT_EQ(LogLines("LISTED03")[0], tag);
    EXPECT_TRUE(LogLines("LISTED03")[2].starts_with("Completed"));
  }
  EXPECT_TRUE(RequestsToOthers({kChosen}).empty());
  EXPECT_EQ(bench.Media(5).ReadSector(0), sim::PatternSector(0));
}

std::vector<SwapCase> Cases() {
  std::vector<SwapCase> cases;
  struct Row {
    const char* name;
    std::function<void(UtilsRig&, sim::Bench&)> (*make)(Kind);
    bool refused;
  };
  const Row rows[] = {
      {"unchanged", [](Kind) { return std::function<void(UtilsRig&, sim::Bench&)>(Nothing); },
       false},
      // The same drive unplugged and plugged in again: still the one the user chose.
      {"plugged_in_again", [](Kind k) { return Replace(k, "LISTED03", kSectors); }, false},
      {"another_drive", [](Kind k) { return Replace(k, "SWAPPED03", kSectors); }, true},
      // Same serial, other size: the erase would cover the wrong sectors.
      {"same_serial_other_size", [](Kind k) { return Replace(k, "LISTED03", kSectors * 2); },
       true},
      {"identity_unanswered", IdentityFails, true},
  };
  const struct {
    const char* name;
    Kind kind;
  } kinds[] = {{"sata", Kind::Sata}, {"usb", Kind::Usb}, {"nvme", Kind::Nvme}};
  const struct {
    const char* name;
    Utility utility;
  } utilities[] = {{"mbr", Utility::EraseMbr}, {"disk", Utility::EraseDisk}};
  for (const auto& u : utilities) {
    for (const auto& k : kinds) {
      for (const Row& r : rows) {
        cases.push_back({std::string(u.name) + "_" + k.name + "_" + r.name, k.kind, u.utility,
                         r.make(k.kind), r.refused});
      }
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Swaps, EraseIdentity, ::testing::ValuesIn(Cases()),
                         [](const auto& p) { return p.param.name; });

}  // namespace
}  // namespace plovix::testing_utils
