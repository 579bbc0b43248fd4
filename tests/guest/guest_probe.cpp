// Runs inside a virtual machine with real (emulated) disks: the program's own drive
// scan and SMART read on the Linux adapter, plus a few direct checks of the adapter,
// printed one fact per line for tools/qemu-integration to compare.
//   guest-probe --adapter 0,1,2    everything; the direct checks on these drives only
//     [--nvme 31,30]               and the NVMe commands on these namespaces (they write
//                                  a block in the middle of each: data disks only)
//   guest-probe --scan             the system's drives and the scan's table
//   guest-probe --nvme-unprivileged 31
//                                  the NVMe commands without CAP_SYS_ADMIN
//   guest-probe --watch-arrivals S device arrivals for up to S seconds
//   guest-probe --erase-mbr N | --erase-disk N
//                                  the program's own erase of drive N, from its main window
//                                  on a back end that plays the user: what it was told, the
//                                  Status column, the drive's log and the erase record
//   guest-probe --verdict N        the SMART verdict of drive N, as its report prints it
//   guest-probe --command ARGS...  the program's command line on the real drives, as the
//                                  installed program runs it (real time)
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/CPlovixApp.h"
#include "app/CPlovixDlg.h"
#include "faces/command/CommandLine.h"
#include "diagnostics/Erase.h"
#include "diagnostics/Utilities.h"
#include "faces/scripted/ScriptedBackend.h"
#include "reports/DriveLog.h"
#include "reports/SmartVerdict.h"
#include "resources/ResourceIds.h"

#include "drive/Commands.h"
#include "drive/DriveConnection.h"
#include "drive/IoBuffers.h"
#include "drive/NvmeCommands.h"
#include "drive/NvmeDecode.h"
#include "inventory/DriveRecord.h"
#include "inventory/DriveScan.h"
#include "devices/linux/LinuxDeviceCatalog.h"
#include "devices/linux/LinuxDeviceIo.h"
#include "devices/linux/UeventWatcher.h"
#include "reports/SmartAttributes.h"

namespace {

// Sense bytes of the last SG_IO call, for the record: which format the kernel used.
std::uint8_t g_last_sense[32];
unsigned g_last_sense_length = 0;

std::string LastSense() {
  std::string text;
  char hex[4];
  for (unsigned i = 0; i < g_last_sense_length; ++i) {
    std::snprintf(hex, sizeof hex, "%02x", g_last_sense[i]);
    text += (i ? " " : "") + std::string(hex);
  }
  return text;
}

using plovix::AtaPassThroughRequest;
using plovix::DeviceHandle;
using plovix::ScsiPassThroughRequest;

std::string Text(const char* chars, std::size_t width) {
  std::string s(chars, strnlen(chars, width));
  return s;
}

// Whether the program's drive records know NVMe namespaces (the scan takes them).
template <typename Record>
constexpr bool kRecordsNvme = requires(const Record& r) {
  r.nvme;
  r.nvme_nsid;
  r.nvme_block_bytes;
};

template <typename Record>
bool IsNvmeRecord(const Record& r) {
  if constexpr (kRecordsNvme<Record>) {
    return r.nvme != 0;
  } else {
    (void)r;
    return false;
  }
}

template <typename Record>
void PrintNvmeRecord(const Record& r) {
  if constexpr (kRecordsNvme<Record>) {
    if (r.nvme == 0) return;
    std::printf("DRIVE_NVME n=%u nsid=%u block_bytes=%u\n", r.drive_number, r.nvme_nsid,
                r.nvme_block_bytes);
  } else {
    (void)r;
  }
}

void PrintTable(const plovix::DriveTable& table, const plovix::UnsupportedUsbList& unsupported) {
  std::printf("SCAN_NVME %s\n", kRecordsNvme<plovix::DriveRecord> ? "taken" : "absent");
  std::printf("COUNT %d\n", table.count);
  for (int i = 0; i < table.count; ++i) {
    const plovix::DriveRecord& r = table.records[i];
    std::printf(
        "DRIVE n=%u model=[%s] serial=[%s] firmware=[%s] sectors=%llu gb=%u via_scsi=%u "
        "bridge=%u letter=%c smart=%u%u%u%u usable=%d\n",
        r.drive_number, Text(r.model, sizeof r.model).c_str(),
        Text(r.serial, sizeof r.serial).c_str(), Text(r.firmware, sizeof r.firmware).c_str(),
        static_cast<unsigned long long>(r.total_sectors), plovix::CapacityGb(r), r.via_scsi,
        r.behind_bridge, r.drive_letter ? r.drive_letter : '-', r.smart_supported,
        r.smart_enabled, r.smart_selftest_supported, r.smart_selftest_default,
        plovix::IsSmartUsable(r) ? 1 : 0);
    PrintNvmeRecord(r);
  }
  std::printf("UNSUPPORTED %u\n", unsupported.count);
  for (int i = 0; i < unsupported.count; ++i) {
    std::printf("UNSUPPORTED_ENTRY [%s] [%s]\n", unsupported.entries[i].vendor,
                unsupported.entries[i].product);
  }
}

void PrintSmart(plovix::DriveConnection& connection, const plovix::DriveRecord& r) {
  const plovix::Transport transport{r.via_scsi, r.behind_bridge};
  connection.Close();
  if (!connection.Open(r.drive_number)) {
    std::printf("SMART n=%u open-failed\n", r.drive_number);
    return;
  }
  plovix::SmartAttributeTable table;
  if (plovix::SmartReadData(connection, transport) != plovix::kCommandOk) {
    std::printf("SMART n=%u read-data-failed\n", r.drive_number);
    return;
  }
  const int rows = plovix::DecodeSmartValues(connection.buffers().a(), table);
  std::printf("SMART n=%u selftest_status=%02x rows=%d\n", r.drive_number,
              connection.buffers().a()[plovix::kSelfTestStatusOffset], rows);
  if (plovix::SmartReadThresholds(connection, transport) != plovix::kCommandOk) {
    std::printf("SMART n=%u read-thresholds-failed\n", r.drive_number);
    return;
  }
  plovix::ApplySmartThresholds(connection.buffers().a(), table);
  for (int i = 0; i < rows; ++i) {
    const auto& row = table.rows[i];
    std::printf("ATTR n=%u id=%u current=%u worst=%u threshold=%u raw=%u name=[%s]\n",
                r.drive_number, row.id, row.current, row.worst, row.threshold, row.raw,
                Text(row.name, sizeof row.name).c_str());
  }
  connection.Close();
}

// What the scan met and did not list, and the disks the adapter cannot command.
void PrintNotes(plovix::linuxdev::LinuxDeviceIo& io, const plovix::ScanNotes& notes) {
  for (const auto& note : notes.silent) std::printf("SILENT [%s]\n", note.c_str());
  for (const auto& note : notes.system) std::printf("SYSTEM_NOTE [%s]\n", note.c_str());
  for (const auto& disk : io.OtherDisks()) std::printf("OTHER [%s]\n", disk.c_str());
}

// What the adapter tells the scan about the running system.
void PrintSystem(plovix::linuxdev::LinuxDeviceIo& io) {
  const plovix::SystemDrives system = io.FindSystemDrives();
  std::printf("SYSTEM_DRIVES");
  for (int n : system.numbers) std::printf(" %d", n);
  std::printf("\nUNDETERMINED [%s]\n", system.undetermined.c_str());
}

// Direct checks of the adapter that the scan does not show, on the given drives only:
// they write a sector, which no system disk should see.
void ProbeAdapter(plovix::linuxdev::LinuxDeviceIo& io, const std::set<int>& drives) {
  static std::uint8_t buffer[512];
  for (int n : drives) {
    const DeviceHandle h = io.Open(plovix::PhysicalDrivePath(n));
    if (h == plovix::kInvalidHandle) continue;
    const bool usb = io.layout().IsUsbDisk(plovix::linuxdev::SdName(n));

    // SMART RETURN STATUS: non-data, its answer is in the returned LBA registers.
    AtaPassThroughRequest status;
    status.TimeOutValue = 10;
    const std::uint8_t tf[8] = {0xDA, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0, 0};
    std::memcpy(status.CurrentTaskFile, tf, 8);
    AtaPassThroughRequest reply;
    const bool status_ok = io.AtaPassThrough(h, status, reply);
    std::printf("ADAPTER n=%d usb=%d smart_return_status=%d status=%02x lba_mid=%02x lba_high=%02x\n",
                n, usb ? 1 : 0, status_ok ? 1 : 0, reply.CurrentTaskFile[plovix::kTfCommand],
                reply.CurrentTaskFile[plovix::kTfLbaMid], reply.CurrentTaskFile[plovix::kTfLbaHigh]);
    if (!usb) std::printf("SENSE n=%d smart_return_status %s\n", n, LastSense().c_str());

    // READ NATIVE MAX ADDRESS EXT: a 48-bit non-data command whose answer is the last
    // LBA, returned in the current and previous LBA registers.
    AtaPassThroughRequest native;
    native.AtaFlags = plovix::kAtaFlags48Bit;
    native.TimeOutValue = 10;
    native.CurrentTaskFile[plovix::kTfDevice] = 0x40;
    native.CurrentTaskFile[plovix::kTfCommand] = 0x27;
    const bool native_call = io.AtaPassThrough(h, native, reply);
    unsigned long long max_lba = 0;
    for (int i : {plovix::kTfLbaHigh, plovix::kTfLbaMid, plovix::kTfLbaLow}) {
      max_lba = (max_lba << 8) | reply.PreviousTaskFile[i];
    }
    for (int i : {plovix::kTfLbaHigh, plovix::kTfLbaMid, plovix::kTfLbaLow}) {
      max_lba = (max_lba << 8) | reply.CurrentTaskFile[i];
    }
    std::printf("ADAPTER n=%d native_max call=%d status=%02x max_lba=%llu\n", n,
                native_call ? 1 : 0, reply.CurrentTaskFile[plovix::kTfCommand], max_lba);

    // SMART with a subcommand no drive knows: the drive aborts it, and the ERR bit and
    // the error register must come back to the program.
    AtaPassThroughRequest bogus = status;
    bogus.CurrentTaskFile[plovix::kTfFeature] = 0xFF;
    const bool bogus_call = io.AtaPassThrough(h, bogus, reply);
    std::printf("ADAPTER n=%d aborted call=%d err=%d error=%02x\n", n, bogus_call ? 1 : 0,
                reply.CurrentTaskFile[plovix::kTfCommand] & 1, reply.CurrentTaskFile[plovix::kTfFeature]);
    if (!usb) std::printf("SENSE n=%d aborted %s\n", n, LastSense().c_str());

    // A PIO data-out command and a PIO data-in command: write a sector far from the
    // file system, read it back.
    if (!usb) {
      static std::uint8_t out[512];
      static std::uint8_t in[512];
      for (int i = 0; i < 512; ++i) out[i] = static_cast<std::uint8_t>(i * 7 + n);
      AtaPassThroughRequest write;
      write.AtaFlags = plovix::kAtaFlagsDataOut;
      write.DataTransferLength = 512;
      write.DataBuffer = out;
      write.TimeOutValue = 10;
      const std::uint8_t lba_tf[8] = {0, 1, 0x40, 0x0D, 0x03, 0xE0, 0x30, 0};  // LBA 200000
      std::memcpy(write.CurrentTaskFile, lba_tf, 8);
      const bool wrote = io.AtaPassThrough(h, write, reply) &&
                         (reply.CurrentTaskFile[plovix::kTfCommand] & 1) == 0;
      AtaPassThroughRequest read = write;
      read.AtaFlags = plovix::kAtaFlagsDataIn;
      read.DataBuffer = in;
      read.CurrentTaskFile[plovix::kTfCommand] = 0x20;
      const bool read_ok = io.AtaPassThrough(h, read, reply) &&
                           (reply.CurrentTaskFile[plovix::kTfCommand] & 1) == 0;
      std::printf("ADAPTER n=%d write_read wrote=%d read=%d same=%d\n", n, wrote ? 1 : 0,
                  read_ok ? 1 : 0, std::memcmp(in, out, 512) == 0 ? 1 : 0);
    }

    // The standard ATA PASS-THROUGH(12) IDENTIFY, as the scan sends it to USB drives.
    ScsiPassThroughRequest scsi;
    scsi.CdbLength = 12;
    const std::uint8_t cdb[12] = {0xA1, 0x08, 0x0B, 0, 0, 0, 0, 0, 0, 0xEC, 0, 0};
    std::memcpy(scsi.Cdb, cdb, sizeof cdb);
    scsi.DataIn = plovix::kScsiDataIn;
    scsi.DataTransferLength = 512;
    scsi.DataBuffer = buffer;
    scsi.SenseInfoLength = 24;
    scsi.TimeOutValue = 10;
    const bool scsi_call = io.ScsiPassThrough(h, scsi);
    std::printf("ADAPTER n=%d scsi_identify call=%d scsi_status=%02x sense_key=%x\n", n,
                scsi_call ? 1 : 0, scsi.ScsiStatus, scsi.Sense[2] & 0x0F);
    io.Close(h);
  }
}

const char* OutcomeName(plovix::NvmeOutcome outcome) {
  switch (outcome) {
    case plovix::NvmeOutcome::Completed:
      return "completed";
    case plovix::NvmeOutcome::NoNvme:
      return "no-nvme";
    case plovix::NvmeOutcome::Refused:
      return "refused";
    case plovix::NvmeOutcome::CallFailed:
      return "call-failed";
    case plovix::NvmeOutcome::NotSent:
      return "not-sent";
  }
  return "?";
}

void PrintCommand(int n, const char* what, const plovix::NvmeReply& reply) {
  std::printf("NVME_CMD n=%d %s outcome=%s status=%04x\n", n, what, OutcomeName(reply.outcome),
              reply.status);
}

unsigned long long Shown(const plovix::NvmeU128& counter) {
  return static_cast<unsigned long long>(counter.Shown());
}

// Which disk each drive number names, and the drives left without one.
void PrintNumbers(plovix::linuxdev::LinuxDeviceIo& io) {
  for (int n = 0; n <= plovix::linuxdev::kMaxDriveNumber; ++n) {
    if (const auto disk = io.DiskOfDrive(n)) std::printf("NUMBER n=%d disk=%s\n", n, disk->c_str());
  }
  for (const auto& disk : io.UnreachableDrives()) std::printf("UNREACHABLE %s\n", disk.c_str());
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    const auto disks = io.layout().DisksOfVolume(letter);
    if (disks.empty()) continue;
    std::string names;
    for (const auto& disk : disks) names += (names.empty() ? "" : " ") + disk;
    std::printf("VOLUME %c disks=[%s]\n", letter, names.c_str());
  }
}

// Identify, health and the commands of the surface scan, self-test and erase on one
// namespace, through the program's connection and catalogue. The health log comes last,
// after the I/O, so that nvme-cli read right after shows the same counters.
void ProbeNvme(plovix::DriveConnection& connection, int n) {
  connection.Close();
  if (!connection.Open(n)) {
    std::printf("NVME n=%d open-failed\n", n);
    return;
  }
  const auto nsid = connection.NvmeNamespaceId();
  std::printf("NVME n=%d nsid=%u ata_identify=%d inquiry=%d\n", n, nsid.value_or(0),
              plovix::IdentifyDevice(connection) ? 1 : 0, plovix::Inquiry(connection) ? 1 : 0);
  if (!nsid) return;

  const plovix::NvmeReply id = plovix::NvmeIdentifyController(connection);
  plovix::NvmeControllerIdentity c;
  if (plovix::NvmeSucceeded(id)) plovix::DecodeIdentifyController(connection.buffers().a(), c);
  std::printf(
      "NVME_ID n=%d outcome=%s status=%04x model=[%s] serial=[%s] firmware=[%s] vid=%u "
      "oacs=%u oncs=%u mdts=%u nn=%u wctemp=%u cctemp=%u self_test=%d verify=%d "
      "write_zeroes=%d\n",
      n, OutcomeName(id.outcome), id.status, c.model, c.serial, c.firmware, c.pci_vendor, c.oacs,
      c.oncs, c.mdts, c.namespace_count, c.warning_temp_kelvin, c.critical_temp_kelvin,
      c.self_test_supported() ? 1 : 0, c.verify_supported() ? 1 : 0,
      c.write_zeroes_supported() ? 1 : 0);

  const plovix::NvmeReply nsr = plovix::NvmeIdentifyNamespace(connection, *nsid);
  plovix::NvmeNamespace ns;
  const auto decoded = plovix::NvmeSucceeded(nsr)
                           ? plovix::DecodeIdentifyNamespace(connection.buffers().a(), *nsid, ns)
                           : plovix::NvmeNamespaceDecode::Inactive;
  std::printf("NVME_NS n=%d outcome=%s status=%04x ok=%d blocks=%llu block_bytes=%u sectors=%llu\n",
              n, OutcomeName(nsr.outcome), nsr.status,
              decoded == plovix::NvmeNamespaceDecode::Ok ? 1 : 0,
              static_cast<unsigned long long>(ns.block_count), ns.block_bytes,
              static_cast<unsigned long long>(ns.sectors()));
  // A namespace the controller does not have: all zeros, which is no namespace.
  const plovix::NvmeReply other = plovix::NvmeIdentifyNamespace(connection, 200);
  plovix::NvmeNamespace none;
  const bool inactive =
      plovix::NvmeSucceeded(other) &&
      plovix::DecodeIdentifyNamespace(connection.buffers().a(), 200, none) ==
          plovix::NvmeNamespaceDecode::Inactive;
  std::printf("NVME_NS n=%d nsid=200 outcome=%s status=%04x inactive=%d\n", n,
              OutcomeName(other.outcome), other.status, inactive ? 1 : 0);
  if (decoded != plovix::NvmeNamespaceDecode::Ok) return;

  PrintCommand(n, "selftest_log", plovix::NvmeReadSelfTestLog(connection));
  PrintCommand(n, "selftest_short",
               plovix::NvmeStartSelfTest(connection, plovix::NvmeSelfTestCode::Short));
  PrintCommand(n, "verify", plovix::NvmeVerify(connection, ns, 0, 8));
  // Past the end: the connection's wrappers never send it, so it goes as a raw request.
  plovix::NvmeReply past;
  if (const auto r = plovix::EncodeVerify(*nsid, ns.block_count, 1)) connection.SendNvme(*r, past);
  PrintCommand(n, "verify_past_end", past);
  PrintCommand(n, "read", plovix::NvmeRead(connection, ns, ns.block_count - 1, 1));

  // A block in the middle, well clear of anything a file system at the front holds:
  // written with a pattern on a descriptor opened read-only, read back, zeroed, read back.
  const std::uint64_t middle = ns.block_count / 2;
  static std::uint8_t pattern[65536];
  for (std::size_t i = 0; i < ns.block_bytes; ++i) {
    pattern[i] = static_cast<std::uint8_t>(i * 13 + static_cast<std::size_t>(n));
  }
  plovix::NvmeReply wrote;
  if (const auto r = plovix::EncodeWrite(*nsid, middle, 1, ns.block_bytes, pattern)) {
    connection.SendNvme(*r, wrote);
  }
  const plovix::NvmeReply read_back = plovix::NvmeRead(connection, ns, middle, 1);
  const bool same = std::memcmp(connection.buffers().a(), pattern, ns.block_bytes) == 0;
  std::printf("NVME_CMD n=%d write_read wrote=%s read=%s same=%d\n", n, OutcomeName(wrote.outcome),
              OutcomeName(read_back.outcome), same ? 1 : 0);
  const plovix::NvmeReply zeroed = plovix::NvmeWriteZeroes(connection, ns, middle, 1);
  const plovix::NvmeReply read_zero = plovix::NvmeRead(connection, ns, middle, 1);
  bool zeros = plovix::NvmeSucceeded(read_zero);
  for (std::size_t i = 0; zeros && i < ns.block_bytes; ++i) {
    zeros = connection.buffers().a()[i] == 0;
  }
  std::printf("NVME_CMD n=%d write_zeroes outcome=%s status=%04x zeroed=%d\n", n,
              OutcomeName(zeroed.outcome), zeroed.status, zeros ? 1 : 0);

  const plovix::NvmeReply hr = plovix::NvmeReadHealthLog(connection);
  plovix::NvmeHealth h;
  if (plovix::NvmeSucceeded(hr)) plovix::DecodeHealthLog(connection.buffers().a(), h);
  std::printf(
      "NVME_HEALTH n=%d outcome=%s status=%04x critical_warning=%u temperature=%u celsius=%d "
      "avail_spare=%u spare_thresh=%u percent_used=%u data_units_read=%llu "
      "data_units_written=%llu host_read_commands=%llu host_write_commands=%llu "
      "power_cycles=%llu power_on_hours=%llu unsafe_shutdowns=%llu media_errors=%llu "
      "num_err_log_entries=%llu\n",
      n, OutcomeName(hr.outcome), hr.status, h.critical_warning, h.temperature_kelvin,
      plovix::KelvinToCelsius(h.temperature_kelvin).value_or(-1000), h.available_spare,
      h.available_spare_threshold, h.percentage_used, Shown(h.data_units_read),
      Shown(h.data_units_written), Shown(h.host_read_commands), Shown(h.host_write_commands),
      Shown(h.power_cycles), Shown(h.power_on_hours), Shown(h.unsafe_shutdowns),
      Shown(h.media_errors), Shown(h.error_log_entries));
  connection.Close();
}

// The same commands from a process that has lost CAP_SYS_ADMIN (root in a container
// that drops it): what the kernel lets through and what it withholds.
int ProbeNvmeUnprivileged(plovix::linuxdev::LinuxDeviceIo& io, int n) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return 1;
  data[CAP_SYS_ADMIN / 32].effective &= ~(1u << (CAP_SYS_ADMIN % 32));
  if (syscall(SYS_capset, &header, data) != 0) {
    std::printf("CAPSET_FAILED\n");
    return 1;
  }
  plovix::IoBuffers buffers;
  plovix::DriveConnection connection(io, buffers);
  if (!connection.Open(n)) return 1;
  const auto nsid = connection.NvmeNamespaceId();
  std::printf("UNPRIVILEGED n=%d nsid=%u\n", n, nsid.value_or(0));
  PrintCommand(n, "unprivileged_identify_controller", plovix::NvmeIdentifyController(connection));
  PrintCommand(n, "unprivileged_identify_namespace",
               plovix::NvmeIdentifyNamespace(connection, nsid.value_or(1)));
  PrintCommand(n, "unprivileged_health", plovix::NvmeReadHealthLog(connection));
  plovix::NvmeNamespace ns;
  ns.nsid = nsid.value_or(1);
  ns.block_count = 1;
  ns.block_bytes = 512;
  PrintCommand(n, "unprivileged_verify", plovix::NvmeVerify(connection, ns, 0, 1));
  PrintCommand(n, "unprivileged_write_zeroes", plovix::NvmeWriteZeroes(connection, ns, 0, 1));
  // The program started like this offers no namespace and says why.
  plovix::linuxdev::LinuxDeviceIo fresh(plovix::linuxdev::RealLinuxSystem());
  for (const auto& disk : fresh.UnreachableDrives()) std::printf("UNREACHABLE %s\n", disk.c_str());
  return 0;
}

// Listens for device arrivals as the program does, for up to `seconds`, and stops
// once an arrival has been told and some quiet time has passed after it.
int WatchArrivals(int seconds) {
  std::atomic<int> arrivals{0};
  plovix::linuxdev::UeventWatcher watcher([&] {
    ++arrivals;
    std::printf("ARRIVAL\n");
    std::fflush(stdout);
  });
  if (!watcher.Start()) {
    std::printf("WATCH_FAILED\n");
    return 1;
  }
  std::printf("WATCHING\n");
  std::fflush(stdout);
  int quiet_after = -1;
  for (int tenth = 0; tenth < seconds * 10; ++tenth) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (arrivals > 0 && quiet_after < 0) quiet_after = tenth + 80;  // 8 s more for stragglers
    if (quiet_after >= 0 && tenth >= quiet_after) break;
  }
  watcher.Stop();
  std::printf("ARRIVALS %d\n", arrivals.load());
  return 0;
}


// --- The program's erases, played through its windows ------------------------------------

// One line however many the text has.
std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c != '\r') out += c;
  }
  return out;
}

// The file's lines, CR LF or LF.
void PrintLines(const char* tag, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::printf("%s [%s]\n", tag, line.c_str());
  }
}

using Clock = std::chrono::steady_clock;
long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The user: each window gets its step as it comes up. The main window checks the drive's
// line and takes the erase from Utilities; warnings, confirmations, completions and every
// box are accepted; the progress dialog runs in real time until its worker is done.
class ErasingUser : public ui::scripted::ScriptedBackend {
 public:
  ErasingUser(int drive, int button) : ScriptedBackend(std::time(nullptr)), drive_(drive), button_(button) {
    SetFailureHandler([this](const std::string& m) {
      std::printf("SCRIPT_FAILED [%s]\n", m.c_str());
      script_failed = true;
    });
  }

  void RunModalLoop(ui::Dialog& dlg) override {
    const int id = dlg.template_id();
    std::printf("DIALOG %d\n", id);
    std::fflush(stdout);
    if (dlg.end_requested()) {
      // Closed during its own initialisation: no step for it.
    } else if (id == plovix::ids::kMainTemplate) {
      MainWindow(static_cast<plovix::CPlovixDlg&>(dlg));
    } else if (id == plovix::ids::kUtilitiesTemplate) {
      Expect(id).Press(button_);
    } else if (id == plovix::ids::kEraseDiskTemplate) {
      const Clock::time_point started = Clock::now();
      Expect(id)
          .Do([this, started](ui::Dialog& d) {
            auto& worker = static_cast<plovix::WorkerDialog&>(d);
            while (worker.finished.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const long long ms = MsSince(started);
            std::printf("WORKER_MS n=%d ms=%lld\n", drive_, ms);
            // The program's clock follows the real one, so the record tells real times.
            AdvanceClock(static_cast<unsigned>(ms));
          })
          .AdvanceUntilClosed(60000);
    } else {
      Expect(id).Press(ui::IDOK);  // the warnings' and completions' OK
    }
    ScriptedBackend::RunModalLoop(dlg);
  }

  int MessageBox(const std::string& text, const std::string& caption, unsigned type) override {
    std::printf("BOX [%s]\n", OneLine(text).c_str());
    ExpectMessageBoxStarting("").Press(ui::IDOK);
    return ScriptedBackend::MessageBox(text, caption, type);
  }

  bool script_failed = false;
  std::string serial;  // of the drive erased, once it was found listed

 private:
  void MainWindow(plovix::CPlovixDlg& main) {
    const int line = plovix::FindSlotByDriveNumber(main.drive_table, drive_);
    if (line < 0) {
      std::printf("NOT_LISTED n=%d\n", drive_);
      Expect(plovix::ids::kMainTemplate).Escape();
      return;
    }
    const plovix::DriveRecord& r = main.drive_table.records[line];
    serial = Text(r.serial, sizeof r.serial);
    if (button_ == 0) {  // no erase: the verdict the report and Log View print
      std::printf("VERDICT n=%d [%s]\n", drive_,
                  plovix::SmartVerdictWord(main.ReadSmartVerdict(r)));
      Expect(plovix::ids::kMainTemplate).Escape();
      return;
    }
    auto started = std::make_shared<Clock::time_point>();
    Expect(plovix::ids::kMainTemplate)
        .Check(plovix::ids::main_window::kDriveList, line)
        .Do([started](ui::Dialog&) { *started = Clock::now(); })
        .Press(plovix::ids::main_window::kUtilities)
        .Do([this, line, started](ui::Dialog& d) {
          std::printf("ERASE_MS n=%d ms=%lld\n", drive_, MsSince(*started));
          std::printf("STATUS n=%d [%s]\n", drive_,
                      d.List(plovix::ids::main_window::kDriveList)
                          .GetItemText(line, plovix::kStatusColumn)
                          .c_str());
        })
        .Escape();
  }

  int drive_;
  int button_;
};

int RunErase(plovix::linuxdev::LinuxDeviceIo& io, int drive, int button) {
  plovix::linuxdev::LinuxDeviceCatalog catalog;
  ErasingUser user(drive, button);
  plovix::CPlovixApp(io, catalog).InitInstance();
  if (!user.serial.empty()) {
    PrintLines("LOG", plovix::LogFileName(user.serial));
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
      const std::string name = entry.path().filename().string();
      if (!name.starts_with(user.serial + "-erase-")) continue;
      std::printf("RECORD_FILE [%s]\n", name.c_str());
      PrintLines("RECORD", entry.path().string());
    }
  }
  std::printf("ERASE_DONE pending=%zu\n", user.pending_steps());
  return user.serial.empty() || user.script_failed || user.pending_steps() != 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--command") == 0) {
    std::vector<const char*> args{"Plovix"};
    for (int i = 2; i < argc; ++i) args.push_back(argv[i]);
    plovix::linuxdev::LinuxDeviceIo io;
    plovix::linuxdev::LinuxDeviceCatalog catalog;
    plovix::command::Setup setup;
    setup.io = &io;
    setup.catalog = &catalog;
    const int rc = plovix::command::RunCommandLine(static_cast<int>(args.size()), args.data(), setup);
    std::fflush(stdout);
    std::printf("\nCOMMAND_EXIT %d\n", rc);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "--watch-arrivals") == 0) {
    return WatchArrivals(std::atoi(argv[2]));
  }
  const auto numbers = [](const char* text) {
    std::set<int> out;
    for (const char* at = text; *at != 0;) {
      char* end = nullptr;
      out.insert(static_cast<int>(std::strtol(at, &end, 10)));
      if (end == at) break;
      at = *end == ',' ? end + 1 : end;
    }
    return out;
  };
  const bool erase_mbr = argc == 3 && std::strcmp(argv[1], "--erase-mbr") == 0;
  if (erase_mbr || (argc == 3 && std::strcmp(argv[1], "--erase-disk") == 0)) {
    plovix::linuxdev::LinuxDeviceIo io;
    return RunErase(
        io, std::atoi(argv[2]),
        erase_mbr ? plovix::ids::utilities::kEraseMbr : plovix::ids::utilities::kEraseDisk);
  }
  if (argc == 3 && std::strcmp(argv[1], "--verdict") == 0) {
    plovix::linuxdev::LinuxDeviceIo io;
    return RunErase(io, std::atoi(argv[2]), 0);
  }
  const bool scan_only = argc == 2 && std::strcmp(argv[1], "--scan") == 0;
  const bool unprivileged = argc == 3 && std::strcmp(argv[1], "--nvme-unprivileged") == 0;
  std::set<int> exercised;
  std::set<int> nvme;
  if ((argc == 3 || argc == 5) && std::strcmp(argv[1], "--adapter") == 0) {
    exercised = numbers(argv[2]);
    if (argc == 5 && std::strcmp(argv[3], "--nvme") == 0) nvme = numbers(argv[4]);
  } else if (!scan_only && !unprivileged) {
    std::fprintf(stderr,
                 "usage: guest-probe --adapter N,N.. [--nvme N,N..] | --scan | "
                 "--nvme-unprivileged N | --watch-arrivals S | --erase-mbr N | --erase-disk N | "
                 "--verdict N\n");
    return 2;
  }
  plovix::linuxdev::LinuxSystem system = plovix::linuxdev::RealLinuxSystem();
  system.sg_io = [real = system.sg_io](int fd, sg_io_hdr_t* hdr) {
    const int rc = real(fd, hdr);
    g_last_sense_length = rc == 0 ? hdr->sb_len_wr : 0;
    if (g_last_sense_length > sizeof g_last_sense) g_last_sense_length = sizeof g_last_sense;
    std::memcpy(g_last_sense, hdr->sbp, g_last_sense_length);
    return rc;
  };
  plovix::linuxdev::LinuxDeviceIo io(system);
  if (unprivileged) return ProbeNvmeUnprivileged(io, std::atoi(argv[2]));
  plovix::linuxdev::LinuxDeviceCatalog catalog;
  PrintSystem(io);
  PrintNumbers(io);

  if (scan_only) {
    plovix::IoBuffers buffers;
    plovix::DriveConnection connection(io, buffers);
    plovix::DriveTable table;
    plovix::UnsupportedUsbList unsupported;
    plovix::ScanNotes notes;
    plovix::RefreshDriveTable(table, unsupported, connection, catalog, nullptr, &notes);
    PrintTable(table, unsupported);
    PrintNotes(io, notes);
    std::printf("PROBE_DONE\n");
    return 0;
  }

  for (const auto& [guid, enumerator] :
       {std::pair{plovix::kDiskDriveClassGuid, "USBSTOR"}, std::pair{plovix::kUsbClassGuid, "USB"}}) {
    const auto ids = catalog.PresentDevices(guid, enumerator);
    if (!ids) {
      std::printf("CATALOG %s unavailable\n", enumerator);
      continue;
    }
    for (const auto& id : *ids) std::printf("CATALOG %s [%s]\n", enumerator, id ? id->c_str() : "");
  }

  ProbeAdapter(io, exercised);

  plovix::IoBuffers buffers;
  plovix::DriveConnection connection(io, buffers);
  for (int n : nvme) ProbeNvme(connection, n);
  plovix::DriveTable table;
  plovix::UnsupportedUsbList unsupported;
  plovix::ScanNotes notes;
  plovix::RefreshDriveTable(table, unsupported, connection, catalog, nullptr, &notes);
  PrintTable(table, unsupported);
  PrintNotes(io, notes);
  for (int i = 0; i < table.count; ++i) {
    // An NVMe drive's health is its log, read above with the NVMe commands.
    if (!IsNvmeRecord(table.records[i])) PrintSmart(connection, table.records[i]);
  }
  std::printf("PROBE_DONE\n");
  return 0;
}
