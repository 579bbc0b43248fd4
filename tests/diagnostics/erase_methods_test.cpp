// Erase MBR and Erase Disk on drives that refuse the vendor erase, on disks in use, with
// hidden sectors, write errors and lost writes: the method each drive gets, what the
// read-back finds, and what the user, the log and the erase record are told.
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/Erase.h"
#include "diagnostics/EraseMethods.h"
#include "resources/ResourceIds.h"
#include "tests/support/utils_rig.h"

namespace plovix::testing_utils {
namespace {

constexpr std::uint64_t kTotal = 600000;  // three verification strides and a bit
constexpr std::uint8_t kNativeMax = 0x27;
constexpr std::uint8_t kSctLog = 0xB0;

std::string EraseRecordText(const std::string& serial) {
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(serial + "-erase-")) {
      std::ifstream in(entry.path(), std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
  return {};
}

struct DiskCase {
  const char* name;
  std::function<void(sim::DriveSpec&)> setup;
  bool usb = false;
  const char* notice = nullptr;   // the box before the warning, by its start
  const char* status;             // the Status column at the end
  const char* logged;             // the log's result word
  const char* box;                // the result box after the erase, by its start
  bool zeroed;                    // every sector reads zero afterwards
  bool blocks_written;            // the system's block path carried the zeros
  const char* record_line;        // a line the erase record holds
};

class EraseDiskMethods : public UtilsRig, public ::testing::WithParamInterface<DiskCase> {};

TEST_P(EraseDiskMethods, TakesTheMethodTheDriveAllowsAndSaysWhatItFound) {
  const DiskCase& c = GetParam();
  sim::DriveSpec drive_setup = DriveSetup("METH0003", kTotal);
  drive_setup.vendor_erase = false;
  c.setup(drive_setup);
  sim::VirtualDrive& drive =
      c.usb ? static_cast<sim::VirtualDrive&>(bench.AddUsb(3, drive_setup, BenchBridgeSpec("METH0003")))
            : bench.AddSata(3, drive_setup);
  drive_numbers.push_back(3);

  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseDisk);
  if (c.notice != nullptr) ui.ExpectMessageBoxStarting(c.notice).Press(ui::IDOK);
  ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
  ui.Expect(ids::kSureTemplate).Press(ui::IDOK);
  ui.Expect(ids::kEraseDiskTemplate)
      .Do([&](ui::Dialog& d) {
        auto& erase = dynamic_cast<CEraseDisk&>(d);
        ASSERT_TRUE(WaitUntil([&] { return erase.finished.load() != 0; }));
        EXPECT_TRUE(bench.IsClaimed(3));  // held until the erase has ended
      })
      // The quick timer closes it well before the five-second one would.
      .AdvanceUntilClosed(1000);
  if (std::string(c.status) == "Completed") ui.Expect(ids::kEraseDiskDoneTemplate).Press(ui::IDOK);
  ui.ExpectMessageBoxStarting(c.box).Press(ui::IDOK);
  End();
  Run();

  EXPECT_EQ(status.at(0), c.status);
  ASSERT_EQ(LogLines("METH0003").size(), 4u);
  EXPECT_EQ(LogLines("METH0003")[2], c.logged);
  EXPECT_EQ(drive.IsZeroed(0, kTotal), c.zeroed);
  EXPECT_EQ(bench.BlockBytesWritten(3) != 0, c.blocks_written);
  EXPECT_FALSE(bench.IsClaimed(3));
  EXPECT_EQ(bench.ReleaseCount(3), 1);  // the system told once, whatever the result
  EXPECT_NE(EraseRecordText("METH0003").find(c.record_line), std::string::npos)
      << EraseRecordText("METH0003");
  EXPECT_TRUE(RequestsToOthers({3}).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Drives, EraseDiskMethods,
    ::testing::Values(
        DiskCase{"refuses_vendor_sata", [](sim::DriveSpec&) {}, false, nullptr, "Completed",
                 "Completed (operating-system writes)",
                 "Erased by operating-system writes.\nVerified.", true, true,
                 "Method          : operating-system writes"},
        DiskCase{"refuses_write_buffer_usb", [](sim::DriveSpec& s) { s.write_buffer = false; },
                 true, nullptr, "Completed", "Completed (operating-system writes)",
                 "Erased by operating-system writes.", true, true, "Verification    : Verified"},
        DiskCase{"sct_write_same", [](sim::DriveSpec& s) { s.sct_write_same = true; }, false,
                 nullptr, "Completed", "Completed (SCT Write Same)",
                 "Erased by SCT Write Same.\nVerified.", true, false,
                 "Sectors written : 600000"},
        DiskCase{"maker_drive", [](sim::DriveSpec& s) { s.vendor_erase = true; }, false, nullptr,
                 "Completed", "Completed", "Erased by vendor fill.\nVerified.", true, false,
                 "Hidden sectors  : none"},
        DiskCase{"host_protected_area",
                 [](sim::DriveSpec& s) { s.native_sectors = kTotal + 4096; }, false,
                 "A host protected area hides 4096 sectors", "Completed",
                 "Completed (operating-system writes)", "Erased by operating-system writes.",
                 true, true, "Hidden sectors  : 4096 sectors in a host protected area, not erased"},
        DiskCase{"write_error_mid_disk", [](sim::DriveSpec& s) { s.write_error_lba = 300000; },
                 false, nullptr, "Failure", "Failed",
                 "!!! Erase Disk Fail !!!\n\nThe erase stopped at the run from LBA 294912: the "
                 "system's write failed: Input/output error.",
                 false, true, "Result          : Failed at LBA 294912"},
        DiskCase{"drops_writes",
                 [](sim::DriveSpec& s) {
                   s.dropped_writes_first = kTotal - 8;
                   s.dropped_writes_count = 8;
                 },
                 false, nullptr, "Failure", "Failed",
                 "!!! Erase Disk Fail !!!\n\nThe erase reported success, but LBA 599992 does not "
                 "read back as zeros",
                 false, true, "Verification    : Not zero at LBA 599992"}),
    [](const auto& p) { return std::string(p.param.name); });

// --- Nothing is written to a disk in use -------------------------------------------------------

struct InUseCase {
  const char* name;
  int button;  // Erase MBR or Erase Disk
  std::function<void(sim::Bench&)> setup;
  const char* box;
  const char* status;
};

class EraseRefusedDisk : public UtilsRig, public ::testing::WithParamInterface<InUseCase> {};

TEST_P(EraseRefusedDisk, WritesNothingAndLogsNothing) {
  const InUseCase& c = GetParam();
  sim::DriveSpec drive_setup = DriveSetup("BUSY0003", kTotal);
  drive_setup.vendor_erase = false;
  sim::VirtualDrive& drive = bench.AddSata(3, drive_setup);
  drive_numbers.push_back(3);
  c.setup(bench);

  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate).Press(c.button);
  ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
  ui.Expect(ids::kSureTemplate).Press(ui::IDOK);
  ui.ExpectMessageBoxStarting(c.box).Press(ui::IDOK);
  End();
  Run();

  EXPECT_EQ(status.at(0), c.status);
  EXPECT_EQ(drive.ReadSector(0), sim::PatternSector(0));
  EXPECT_TRUE(Commands(3, {kWriteBuffer, kErase}).empty());
  EXPECT_EQ(bench.BlockBytesWritten(3), 0u);
  EXPECT_TRUE(LogLines("BUSY0003").empty());
  EXPECT_EQ(EraseRecordText("BUSY0003"), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EraseRefusedDisk,
    ::testing::Values(
        InUseCase{"mbr_mounted", ids::utilities::kEraseMbr,
                  [](sim::Bench& b) { b.SetDiskUsers(3, {"/dev/sdd1 is mounted at /mnt/data"}); },
                  "/dev/sdd1 is mounted at /mnt/data.\n\nUnmount it first", "In Use"},
        InUseCase{"disk_swap", ids::utilities::kEraseDisk,
                  [](sim::Bench& b) { b.SetDiskUsers(3, {"/dev/sdd2 is in use as swap"}); },
                  "/dev/sdd2 is in use as swap.\n\nUnmount it first", "In Use"},
        InUseCase{"claim_refused", ids::utilities::kEraseDisk,
                  [](sim::Bench& b) { b.FailClaim(3, "permission denied"); },
                  "The operating system would not let the program take the disk for the erase "
                  "(permission denied)",
                  "Refused"}),
    [](const auto& p) { return std::string(p.param.name); });

// --- Erase MBR by the system's writes, and the system told --------------------------------------

TEST_F(UtilsRig, EraseMbrOfAnOrdinaryDriveWritesTheFirstSectorOnlyAndTellsTheSystem) {
  sim::DriveSpec drive_setup = DriveSetup("MBRO0003", kTotal);
  drive_setup.vendor_erase = false;
  sim::VirtualDrive& drive = bench.AddSata(3, drive_setup);
  drive_numbers.push_back(3);
  bench.AddVolume('F', 3);
  bench.FailRelease(3, "Device or resource busy");

  Begin({0});
  ui.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseMbr);
  ui.ExpectMessageBox(
        "While it runs, the erase dismounts F: (takes it off-line). Close every program that "
        "uses it first.")
      .Press(ui::IDOK);
  ui.Expect(ids::kWarningTemplate).Press(ui::IDOK);
  ui.Expect(ids::kSureTemplate).Press(ui::IDOK);
  ui.Expect(ids::kEraseMbrDoneTemplate).Press(ui::IDOK);
  ui.ExpectMessageBox("The MBR was erased by operating-system writes.").Press(ui::IDOK);
  ui.ExpectMessageBoxStarting("The erase's own result stands, but the operating system could "
                              "not be told of the disk's new content (Device or resource busy)")
      .Press(ui::IDOK);
  End();
  Run();

  EXPECT_TRUE(drive.IsZeroed(0, 1));
  EXPECT_EQ(drive.ReadSector(1), sim::PatternSector(1));
  EXPECT_EQ(bench.BlockBytesWritten(3), 512u);
  EXPECT_EQ(status.at(0), "Completed");
  ASSERT_EQ(LogLines("MBRO0003").size(), 4u);
  EXPECT_EQ(LogLines("MBRO0003")[2], "Completed (operating-system writes)");
}

// The read-back's places: the first and last MiB whole, one block in every 256 MiB, never
// past the end, and different places for different seeds.
TEST(EraseVerifyPlaces, CoverBothEndsAndEveryStride) {
  const std::uint64_t total = 3 * 524288 + 100;
  const auto places = VerifyPlaces(total, 8, 42);
  ASSERT_FALSE(places.empty());
  EXPECT_EQ(places.front(), 0u);
  EXPECT_EQ(places.back(), total / 8 * 8 - 8);
  for (std::uint64_t stride = 0; stride < total; stride += 524288) {
    EXPECT_TRUE(std::any_of(places.begin(), places.end(), [&](std::uint64_t p) {
      return p >= stride && p < stride + 524288;
    })) << stride;
  }
  EXPECT_EQ(std::count_if(places.begin(), places.end(), [](std::uint64_t p) { return p < 2048; }),
            256);
  EXPECT_NE(VerifyPlaces(total, 8, 43), places);
}

}  // namespace
}  // namespace plovix::testing_utils
