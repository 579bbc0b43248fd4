// The program's own scan and SMART read through the Linux adapter: a fake sysfs tree
// says which disks exist and how they hang together, and a stand-in for the kernel's
// SCSI layer and libata hands every SG_IO call to a simulated bench drive, answering
// the way a 6.1 kernel does (sense data as captured from one).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <tuple>
#include <string>
#include <vector>

#include "app/CPlovixDlg.h"
#include "tests/support/app_flow.h"
#include "drive/Commands.h"
#include "drive/DriveConnection.h"
#include "diagnostics/NvmeSupport.h"
#include "drive/NvmeCommands.h"
#include "inventory/DriveRecord.h"
#include "inventory/DriveScan.h"
#include "tests/devices/linux/fake_tree.h"
#include "devices/linux/LinuxDeviceCatalog.h"
#include "devices/linux/LinuxDeviceIo.h"
#include "devices/linux/SysfsLayout.h"
#include "reports/SmartAttributes.h"
#include "devices/sim/Bench.h"
#include "resources/ResourceIds.h"

namespace plovix::linuxdev {
namespace {

constexpr std::uint8_t kCheckCondition = 0x02;
constexpr const char* kNvme0 = "/sys/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0";
constexpr std::uint64_t kNvme1Blocks = 1953525168ULL;  // 1 TB in 512-byte blocks
constexpr std::uint64_t kNvme2Blocks = 262144ULL;      // 1 GiB in 4096-byte blocks
constexpr std::uint64_t kSataSectors = 15628053168ULL;  // 8 TB: LBAs beyond 32 bits

// What libata and the SCSI layer make of an SG_IO call, with a bench drive behind.
class KernelOverBench {
 public:
  explicit KernelOverBench(sim::Bench& bench) : bench_(bench) {}

  // The bench drive behind an NVMe namespace's node.
  void PlaceNvme(const std::string& disk, int bench_number) { nvme_[disk] = bench_number; }

  int Open(const std::string& node) {
    const std::string name = node.substr(node.find_last_of('/') + 1);
    std::optional<int> index = SdIndex(name);
    if (const auto it = nvme_.find(name); it != nvme_.end()) index = it->second;
    if (!index) return -ENOENT;
    const DeviceHandle h = bench_.Open("\\\\.\\PhysicalDrive" + std::to_string(*index));
    if (h == kInvalidHandle) return -EACCES;  // a node this process may not open
    const int fd = next_fd_++;
    handles_[fd] = h;
    return fd;
  }
  void Close(int fd) {
    bench_.Close(handles_.at(fd));
    handles_.erase(fd);
  }

  int SgIo(int fd, sg_io_hdr_t* hdr) {
    const DeviceHandle h = handles_.at(fd);
    hdr->status = 0;
    hdr->host_status = 0;
    hdr->driver_status = 0;
    hdr->sb_len_wr = 0;
    hdr->resid = 0;
    return hdr->cmdp[0] == 0x85 ? Ata16(h, hdr) : Scsi(h, hdr);
  }

  // The kernel's NVMe driver: the command goes to the controller as the program filled
  // it, the completion comes back as the ioctl's value.
  long long NvmeIoctl(int fd, unsigned long request, nvme_passthru_cmd* cmd) {
    const DeviceHandle h = handles_.at(fd);
    if (request == NVME_IOCTL_ID) {
      const auto nsid = bench_.NvmeNamespaceId(h);
      return nsid ? static_cast<long long>(*nsid) : -ENOTTY;
    }
    if (request != NVME_IOCTL_ADMIN_CMD && request != NVME_IOCTL_IO_CMD) return -ENOTTY;
    NvmeRequest r;
    r.queue = request == NVME_IOCTL_ADMIN_CMD ? NvmeQueue::Admin : NvmeQueue::Io;
    r.opcode = cmd->opcode;
    r.nsid = cmd->nsid;
    r.cdw2 = cmd->cdw2;
    r.cdw3 = cmd->cdw3;
    r.cdw10 = cmd->cdw10;
    r.cdw11 = cmd->cdw11;
    r.cdw12 = cmd->cdw12;
    r.cdw13 = cmd->cdw13;
    r.cdw14 = cmd->cdw14;
    r.cdw15 = cmd->cdw15;
    r.direction = (cmd->opcode & 3) == 1 ? NvmeData::ToDevice
                  : (cmd->opcode & 3) == 2 ? NvmeData::FromDevice
                                          : NvmeData::None;
    if (r.direction != NvmeData::None) {
      r.data = reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(cmd->addr));
      r.data_length = cmd->data_len;
    }
    r.timeout_seconds = cmd->timeout_ms / 1000;
    const NvmeReply reply = bench_.NvmePassThrough(h, r);
    switch (reply.outcome) {
      case NvmeOutcome::Completed:
        cmd->result = reply.dw0;
        return reply.status;
      case NvmeOutcome::Refused:
        return -EACCES;
      case NvmeOutcome::NoNvme:
        return -ENOTTY;
      case NvmeOutcome::CallFailed:
        return 0x371;  // what the kernel answers for a command it gave up on
      case NvmeOutcome::NotSent:
        break;
    }
    return -EINVAL;
  }

 private:
  int Ata16(DeviceHandle h, sg_io_hdr_t* hdr) {
    const std::uint8_t* cdb = hdr->cmdp;
    const int protocol = (cdb[1] >> 1) & 0x0F;
    const bool extend = cdb[1] & 1;
    const bool ck_cond = cdb[2] & 0x20;
    AtaPassThroughRequest request;
    request.AtaFlags = static_cast<std::uint16_t>(
        (protocol == 4 ? kAtaFlagsDataIn : protocol == 5 ? kAtaFlagsDataOut : 0) |
        (extend ? kAtaFlags48Bit : 0));
    request.DataTransferLength = hdr->dxfer_len;
    request.DataBuffer = static_cast<std::uint8_t*>(hdr->dxferp);
    request.TimeOutValue = hdr->timeout / 1000;
    const int current[] = {4, 6, 8, 10, 12};
    const int previous[] = {3, 5, 7, 9, 11};
    for (int i = 0; i < 5; ++i) {
      request.CurrentTaskFile[i] = cdb[current[i]];
      if (extend) request.PreviousTaskFile[i] = cdb[previous[i]];
    }
    request.CurrentTaskFile[kTfDevice] = cdb[13];
    request.CurrentTaskFile[kTfCommand] = cdb[14];
    AtaPassThroughRequest reply;
    if (!bench_.AtaPassThrough(h, request, reply)) return -1;
    const std::uint8_t status = reply.CurrentTaskFile[kTfCommand];
    const std::uint8_t error = reply.CurrentTaskFile[kTfFeature];
    if (status & 0x01) {
      // A failed command: fixed format, registers at bytes 8..11.
      const std::uint8_t sense[18] = {0x70, 0, 0x0B, 0, 0, 0, 0, 0x0A, error, status,
                                      reply.CurrentTaskFile[kTfDevice],
                                      reply.CurrentTaskFile[kTfSectorCount]};
      Sense(hdr, sense, sizeof sense);
    } else if (ck_cond) {
      const std::uint8_t sense[22] = {
          0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 0x0E, 0x09, 0x0C, static_cast<std::uint8_t>(extend),
          error, reply.PreviousTaskFile[kTfSectorCount], reply.CurrentTaskFile[kTfSectorCount],
          reply.PreviousTaskFile[kTfLbaLow], reply.CurrentTaskFile[kTfLbaLow],
          reply.PreviousTaskFile[kTfLbaMid], reply.CurrentTaskFile[kTfLbaMid],
          reply.PreviousTaskFile[kTfLbaHigh], reply.CurrentTaskFile[kTfLbaHigh],
          reply.CurrentTaskFile[kTfDevice], status};
      Sense(hdr, sense, sizeof sense);
    }
    return 0;
  }

  int Scsi(DeviceHandle h, sg_io_hdr_t* hdr) {
    ScsiPassThroughRequest request;
    request.CdbLength = hdr->cmd_len;
    std::memcpy(request.Cdb, hdr->cmdp, hdr->cmd_len);
    request.DataIn = hdr->dxfer_direction == SG_DXFER_FROM_DEV ? kScsiDataIn
                     : hdr->dxfer_direction == SG_DXFER_TO_DEV ? kScsiDataOut
                                                               : kScsiDataUnspecified;
    request.DataTransferLength = hdr->dxfer_len;
    request.DataBuffer = static_cast<std::uint8_t*>(hdr->dxferp);
    request.SenseInfoLength = hdr->mx_sb_len;
    request.TimeOutValue = hdr->timeout / 1000;
    if (!bench_.ScsiPassThrough(h, request)) return -1;
    hdr->status = request.ScsiStatus;
    if (request.ScsiStatus == kCheckCondition) {
      const std::uint8_t illegal[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00};
      Sense(hdr, illegal, sizeof illegal);
    }
    return 0;
  }

  static void Sense(sg_io_hdr_t* hdr, const std::uint8_t* sense, std::size_t length) {
    const std::size_t n = std::min<std::size_t>(length, hdr->mx_sb_len);
    std::memcpy(hdr->sbp, sense, n);
    hdr->sb_len_wr = static_cast<unsigned char>(n);
    hdr->status = kCheckCondition;
    hdr->driver_status = 0x08;
  }

  sim::Bench& bench_;
  std::map<std::string, int> nvme_;
  std::map<int, DeviceHandle> handles_;
  int next_fd_ = 3;
};

sim::DriveSpec Disk(std::string model, std::string serial, std::uint64_t sectors) {
  sim::DriveSpec d;
  d.model = std::move(model);
  d.serial = std::move(serial);
  d.firmware = "FW01";
  d.total_sectors = sectors;
  d.attributes = {{.id = 5, .threshold = 36}, {.id = 9, .raw = 1234}, {.id = 197}};
  return d;
}

std::string Ata(int port) {
  const std::string h = std::to_string(port);
  return "/sys/devices/pci0000:00/0000:00:1f.2/ata" + std::to_string(port + 1) + "/host" + h +
         "/target" + h + ":0:0/" + h + ":0:0:0";
}

// A USB disk in sysfs whose SCSI attributes are what the bridge answers to INQUIRY.
void UsbInTree(testing::FakeLinuxTree& tree, const std::string& disk, const std::string& port,
               int host, const sim::BridgeSpec& bridge) {
  const std::string device = "/sys/devices/pci0000:00/0000:00:14.0/usb2/" + port;
  tree.UsbDevice(device, "152d", "0578", bridge.usb_serial);
  tree.UsbInterface(device + "/" + port + ":1.0", "50");
  const std::string h = std::to_string(host);
  tree.ScsiDisk(disk, device + "/" + port + ":1.0/host" + h + "/target" + h + ":0:0/" + h + ":0:0:0",
                "8:" + std::to_string(16 * (disk[2] - 'a')), bridge.vendor, bridge.product,
                bridge.revision);
}

sim::BridgeSpec Bridge(sim::BridgeForwarding forwarding, std::string product, std::string serial) {
  sim::BridgeSpec b;
  b.vendor = "JMicron ";
  b.product = std::move(product);
  b.revision = "0204";
  b.chip_id = "    ";
  b.forwarding = forwarding;
  b.usb_serial = std::move(serial);
  return b;
}

// The bench machine's sdc as every scan names it among the unreachable drives.
constexpr const char* kSilentSdc = "sdc, JMicron USB to ATA (answered no ATA or NVMe identify)";

std::string Unreachable(const std::string& names) {
  return "These drives cannot be reached and are not listed: " + names + ".";
}

// sda SATA (data, mounted), sdb USB with the standard block, sdc USB that forwards
// nothing, sdd SATA holding the root file system.
class LinuxMachineBench {
 public:
  // cap_sys_admin: whether the program runs with CAP_SYS_ADMIN, which NVMe needs.
  explicit LinuxMachineBench(bool cap_sys_admin = true) : kernel(bench) {
    bench.AddSata(0, Disk("WDC WD80EFAX-68KNBN0", "VAJ1ABCD", kSataSectors));
    tree.ScsiDisk("sda", Ata(0), "8:0");
    tree.Partition("sda", "sda1", "8:1");
    const auto standard = Bridge(sim::BridgeForwarding::Standard, "Generic SATA    ", "000000000011");
    bench.AddUsb(1, Disk("ST2000DM008-2FR102", "ZFL0ABCD", 3907029168ULL), standard);
    UsbInTree(tree, "sdb", "2-1", 6, standard);
    const auto silent = Bridge(sim::BridgeForwarding::None, "USB to ATA      ", "000000000022");
    bench.AddUsb(2, Disk("HGST HTS721010A9E630", "JR1000BN2XYZ", 1953525168ULL), silent);
    UsbInTree(tree, "sdc", "2-2", 7, silent);
    bench.AddSata(3, Disk("Samsung SSD 860 EVO 500GB", "S3Z1NB0K123456", 976773168ULL));
    tree.ScsiDisk("sdd", Ata(3), "8:48");
    tree.Partition("sdd", "sdd2", "8:50");
    tree.MountInfo(
        "20 1 8:50 / / rw,relatime shared:1 - ext4 /dev/sdd2 rw\n"
        "21 20 0:22 / /proc rw - proc proc rw\n"
        "22 20 8:1 / /data rw,relatime shared:2 - xfs /dev/sda1 rw\n");

    LinuxSystem system;
    system.root = tree.root();
    system.open_device = [this](const std::string& node) { return kernel.Open(node); };
    system.close_device = [this](int fd) { kernel.Close(fd); };
    system.sg_io = [this](int fd, sg_io_hdr_t* hdr) { return kernel.SgIo(fd, hdr); };
    system.nvme_ioctl = [this](int fd, unsigned long request, nvme_passthru_cmd* cmd) {
      return kernel.NvmeIoctl(fd, request, cmd);
    };
    system.cap_sys_admin = cap_sys_admin;
    io = std::make_unique<LinuxDeviceIo>(std::move(system));
    catalog = std::make_unique<LinuxDeviceCatalog>(tree.root());
    connection = std::make_unique<DriveConnection>(*io, buffers);
  }

  // nvme0n1 and nvme0n2, namespaces 1 and 2 of one controller (the adapter's drives 31
  // and 30); the second is formatted with 4096-byte blocks.
  void AddNvme() {
    tree.NvmeDisk("nvme0n1", kNvme0, "259:0");
    tree.Partition("nvme0n1", "nvme0n1p1", "259:1");
    tree.NvmeDisk("nvme0n2", kNvme0, "259:2");
    for (const auto& [disk, nsid, blocks, bytes] :
         {std::tuple{"nvme0n1", 1u, kNvme1Blocks, 512u}, std::tuple{"nvme0n2", 2u, kNvme2Blocks, 4096u}}) {
      sim::NvmeSpec setup;
      setup.model = "Samsung SSD 980 PRO 1TB";
      setup.serial = "S5GXNX0T123456A";
      setup.firmware = "5B2QGXA7";
      setup.nsid = nsid;
      setup.namespace_count = 2;
      setup.block_count = blocks;
      setup.block_bytes = bytes;
      const int number = nsid == 1 ? 31 : 30;
      bench.AddNvme(number, setup);
      kernel.PlaceNvme(disk, number);
    }
  }

  void Refresh() { RefreshDriveTable(table, unsupported, *connection, *catalog); }
  const DriveRecord* Record(int n) const { return FindByDriveNumber(table, n); }

  testing::FakeLinuxTree tree;
  sim::Bench bench;
  KernelOverBench kernel;
  std::unique_ptr<LinuxDeviceIo> io;
  std::unique_ptr<LinuxDeviceCatalog> catalog;
  IoBuffers buffers;
  std::unique_ptr<DriveConnection> connection;
  DriveTable table;
  UnsupportedUsbList unsupported;
};

TEST(LinuxScanFlow, TableOfARealLayout) {
  LinuxMachineBench m;
  m.Refresh();
  std::vector<int> numbers;
  for (int i = 0; i < m.table.count; ++i) numbers.push_back(m.table.records[i].drive_number);
  // The root disk is left out; the USB disk that answers no pass-through is not taken.
  EXPECT_EQ(numbers, (std::vector<int>{0, 1}));
  EXPECT_EQ(m.unsupported.count, 0);

  const DriveRecord* sata = m.Record(0);
  ASSERT_NE(sata, nullptr);
  EXPECT_STREQ(sata->model, "WDC WD80EFAX-68KNBN0");
  EXPECT_STREQ(sata->serial, "VAJ1ABCD");
  EXPECT_EQ(sata->total_sectors, kSataSectors);
  EXPECT_EQ(sata->via_scsi, 0);
  EXPECT_EQ(sata->drive_letter, 'D');

  const DriveRecord* usb = m.Record(1);
  ASSERT_NE(usb, nullptr);
  EXPECT_STREQ(usb->model, "ST2000DM008-2FR102");
  EXPECT_EQ(usb->via_scsi, 1);
  EXPECT_EQ(usb->usbstor_matched, 1);
  EXPECT_EQ(usb->usb_device_matched, 1);
  EXPECT_STREQ(usb->usb_serial, "000000000011");
  EXPECT_EQ(usb->drive_letter, 0);

  // Nothing was left open on any drive.
  EXPECT_EQ(m.bench.OpenHandleCount(), 0);
}

TEST(LinuxScanFlow, TaskFilesArriveAsTheProgramSentThem) {
  LinuxMachineBench m;
  m.Refresh();
  const Transport sata{0, 0};
  struct Case {
    const char* name;
    std::function<int(DriveConnection&)> command;
    int expected;
  };
  m.bench.Drive(0).mutable_setup().bad_lbas = {0x3456789AULL << 4};
  const Case cases[] = {
      {"SmartReadData", [&](DriveConnection& c) { return SmartReadData(c, sata); }, kCommandOk},
      {"SmartReadThresholds", [&](DriveConnection& c) { return SmartReadThresholds(c, sata); },
       kCommandOk},
      {"VerifyGood48Bit",
       [&](DriveConnection& c) { return ReadVerifySectorsExt(c, sata, (0x3456789AULL << 4) + 0x100, 16); },
       kCommandOk},
      {"VerifyBadLba48Bit",
       [&](DriveConnection& c) { return ReadVerifySectorsExt(c, sata, 0x3456789AULL << 4, 1); },
       kCommandFailed},
      {"SelfTestNonData", [&](DriveConnection& c) { return SmartStartSelfTest(c, sata, 1); },
       kCommandOk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m.connection->Close();
    ASSERT_TRUE(m.connection->Open(0));
    m.bench.ClearLog();
    EXPECT_EQ(c.command(*m.connection), c.expected);
    const auto log = m.bench.LogFor(0);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_FALSE(log[0].scsi);
  }
  // The 48-bit LBA went through both halves of the task file.
  m.connection->Close();
  ASSERT_TRUE(m.connection->Open(0));
  m.bench.ClearLog();
  ReadVerifySectorsExt(*m.connection, sata, 0x3A1B2C3D4ULL, 2);
  const auto log = m.bench.LogFor(0);
  ASSERT_EQ(log.size(), 1u);
  const auto& tf = log[0].ata;
  EXPECT_EQ(tf.AtaFlags & kAtaFlags48Bit, kAtaFlags48Bit);
  const std::uint64_t lba = (std::uint64_t{tf.PreviousTaskFile[kTfLbaHigh]} << 40) |
                            (std::uint64_t{tf.PreviousTaskFile[kTfLbaMid]} << 32) |
                            (std::uint64_t{tf.PreviousTaskFile[kTfLbaLow]} << 24) |
                            (std::uint64_t{tf.CurrentTaskFile[kTfLbaHigh]} << 16) |
                            (std::uint64_t{tf.CurrentTaskFile[kTfLbaMid]} << 8) |
                            tf.CurrentTaskFile[kTfLbaLow];
  EXPECT_EQ(lba, 0x3A1B2C3D4ULL);
  EXPECT_EQ(tf.CurrentTaskFile[kTfSectorCount], 2);
}

TEST(LinuxScanFlow, SmartAttributesOverBothRoads) {
  LinuxMachineBench m;
  m.Refresh();
  for (int n : {0, 1}) {
    SCOPED_TRACE(n);
    const DriveRecord* r = m.Record(n);
    ASSERT_NE(r, nullptr);
    const Transport transport{r->via_scsi, r->behind_bridge};
    m.connection->Close();
    ASSERT_TRUE(m.connection->Open(n));
    SmartAttributeTable table;
    ASSERT_EQ(SmartReadData(*m.connection, transport), kCommandOk);
    const int rows = DecodeSmartValues(m.buffers.a(), table);
    ASSERT_EQ(SmartReadThresholds(*m.connection, transport), kCommandOk);
    ApplySmartThresholds(m.buffers.a(), table);
    ASSERT_EQ(rows, 3);
    EXPECT_EQ(table.rows[0].id, 5);
    EXPECT_EQ(table.rows[0].threshold, 36);
    EXPECT_EQ(table.rows[1].id, 9);
    EXPECT_EQ(table.rows[1].raw48, 1234u);
    EXPECT_EQ(table.rows[2].id, 197);
    // Over SCSI the bench saw ATA PASS-THROUGH(12) blocks, never an ATA request.
    for (const auto& received : m.bench.LogFor(n)) EXPECT_EQ(received.scsi, n == 1);
  }
}

TEST(LinuxScanFlow, UsbDriveUnknownToTheCatalogueIsNamedUnsupported) {
  LinuxMachineBench m;
  // The kernel shows another product name than the bridge answers the program with.
  m.tree.File(
      "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/model",
      "Other Product   \n");
  m.Refresh();
  ASSERT_EQ(m.unsupported.count, 1);
  EXPECT_STREQ(m.unsupported.entries[0].vendor, "JMicron ");
  EXPECT_STREQ(m.unsupported.entries[0].product, "Generic SATA    ");
  EXPECT_EQ(m.Record(1), nullptr);
  EXPECT_NE(m.Record(0), nullptr);
}

std::vector<int> Listed(const DriveTable& table) {
  std::vector<int> numbers;
  for (int i = 0; i < table.count; ++i) numbers.push_back(table.records[i].drive_number);
  return numbers;
}

// The machine of LinuxMachineBench laid out in other ways: the scan leaves out every disk
// the system stands on, and still lists the others.
TEST(LinuxScanFlow, SystemLayoutsKeepAllTheirDisksOut) {
  struct Case {
    const char* name;
    std::function<void(testing::FakeLinuxTree&)> layout;
    std::vector<int> system;
    std::vector<int> listed;
  };
  const auto mounts = [](testing::FakeLinuxTree& tree, const std::string& text) {
    tree.MountInfo(text);
  };
  const Case cases[] = {
      // A volume group over the data disk's partition and the root disk's.
      {"VolumeGroup",
       [&](testing::FakeLinuxTree& t) {
         t.Stacked("dm-0", "253:0", {"sdd2", "sda1"}, "vg-root");
         mounts(t, "20 1 253:0 / / rw shared:1 - ext4 /dev/mapper/vg-root rw\n");
       },
       {0, 3}, {1}},
      // A mirror whose first half is the data disk: the C: volume shows only that one.
      {"Mirror",
       [&](testing::FakeLinuxTree& t) {
         t.Stacked("md0", "9:0", {"sda1", "sdd2"});
         mounts(t, "20 1 9:0 / / rw shared:1 - ext4 /dev/md0 rw\n");
       },
       {0, 3}, {1}},
      // The system on a USB disk: its volume answers no ATA command, so only the adapter
      // can name it.
      {"UsbSystem",
       [&](testing::FakeLinuxTree& t) {
         mounts(t, "20 1 8:17 / / rw shared:1 - ext4 /dev/sdb1 rw\n");
       },
       {1}, {0, 3}},
      {"BtrfsRaid1",
       [&](testing::FakeLinuxTree& t) {
         t.Btrfs("9a0a3e3e-5a9b-4f0e-b7a3-2c3d4e5f6a7b", {"sda1", "sdd2"});
         mounts(t, "20 1 0:31 / / rw shared:1 - btrfs /dev/sdd2 rw,space_cache=v2,subvol=/\n");
       },
       {0, 3}, {1}},
      {"LoopRootImageOnTheUsbDisk",
       [&](testing::FakeLinuxTree& t) {
         t.Loop("loop0", "7:0", "/host/root.img");
         t.File("/host/root.img", "");
         mounts(t,
                "20 1 7:0 / / rw shared:1 - ext4 /dev/loop0 rw\n"
                "21 20 8:17 / /host rw shared:2 - ext4 /dev/sdb1 rw\n");
       },
       {1}, {0, 3}},
      {"LiveOverlayFromTheUsbDisk",
       [&](testing::FakeLinuxTree& t) {
         t.Loop("loop0", "7:0", "/run/medium/live/filesystem.squashfs");
         t.File("/run/medium/live/filesystem.squashfs", "");
         t.Dir("/run/rootfs");
         t.Dir("/run/overlay/rw");
         t.Dir("/run/overlay/work");
         mounts(t,
                "20 1 0:30 / / rw shared:1 - overlay overlay rw,lowerdir=/run/rootfs,"
                "upperdir=/run/overlay/rw,workdir=/run/overlay/work\n"
                "21 20 0:24 / /run rw shared:2 - tmpfs tmpfs rw\n"
                "22 21 8:17 / /run/medium ro shared:3 - vfat /dev/sdb1 ro\n"
                "23 21 7:0 / /run/rootfs ro shared:4 - squashfs /dev/loop0 ro\n"
                "24 21 0:31 / /run/overlay rw shared:5 - tmpfs tmpfs rw\n");
       },
       {1}, {0, 3}},
      {"SwapOnTheDataDisk",
       [&](testing::FakeLinuxTree& t) {
         mounts(t, "20 1 8:50 / / rw shared:1 - ext4 /dev/sdd2 rw\n");
         t.Swaps("/dev/sda1 partition 1048572 0 -2\n");
       },
       {0, 3}, {1}},
      {"BootOnTheUsbDisk",
       [&](testing::FakeLinuxTree& t) {
         mounts(t,
                "20 1 8:50 / / rw shared:1 - ext4 /dev/sdd2 rw\n"
                "21 20 8:17 / /boot rw shared:2 - ext2 /dev/sdb1 rw\n");
       },
       {1, 3}, {0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LinuxMachineBench m;
    m.tree.Partition("sdb", "sdb1", "8:17");
    c.layout(m.tree);
    m.Refresh();
    EXPECT_EQ(m.io->SystemDriveNumbers(), c.system);
    EXPECT_EQ(Listed(m.table), c.listed);
  }
}

// The NVMe road end to end: the catalogue's commands go through the adapter and the
// kernel's NVMe driver to the namespace behind each drive number, as the program sent
// them, and the answers come back.
TEST(LinuxScanFlow, NvmeCommandsReachTheirNamespacesAsSent) {
  LinuxMachineBench m;
  m.AddNvme();
  NvmeNamespace ns1;
  ns1.nsid = 1;
  ns1.block_count = kNvme1Blocks;
  ns1.block_bytes = 512;
  NvmeNamespace ns2;
  ns2.nsid = 2;
  ns2.block_count = kNvme2Blocks;
  ns2.block_bytes = 4096;
  struct Case {
    const char* name;
    int drive;
    std::function<NvmeReply(DriveConnection&)> command;
    NvmeQueue queue;
    std::uint8_t opcode;
    std::uint32_t nsid, cdw10, cdw11, cdw12;
    std::uint32_t data_length;
  };
  const Case cases[] = {
      {"IdentifyController", 31, [](DriveConnection& c) { return NvmeIdentifyController(c); },
       NvmeQueue::Admin, 0x06, 0, 1, 0, 0, 4096},
      {"IdentifyNamespace", 30, [](DriveConnection& c) { return NvmeIdentifyNamespace(c, 2); },
       NvmeQueue::Admin, 0x06, 2, 0, 0, 0, 4096},
      {"HealthLog", 31, [](DriveConnection& c) { return NvmeReadHealthLog(c); },
       NvmeQueue::Admin, 0x02, 0xFFFFFFFF, 0x007F0002, 0, 0, 512},
      {"ShortSelfTest", 31,
       [](DriveConnection& c) { return NvmeStartSelfTest(c, NvmeSelfTestCode::Short); },
       NvmeQueue::Admin, 0x14, 0xFFFFFFFF, 1, 0, 0, 0},
      {"VerifyAtTheEnd", 31,
       [&](DriveConnection& c) { return NvmeVerify(c, ns1, kNvme1Blocks - 8, 8); },
       NvmeQueue::Io, 0x0C, 1, static_cast<std::uint32_t>(kNvme1Blocks - 8), 0, 7, 0},
      {"WriteZeroes4k", 30, [&](DriveConnection& c) { return NvmeWriteZeroes(c, ns2, 100, 16); },
       NvmeQueue::Io, 0x08, 2, 100, 0, 15, 0},
      {"Read4k", 30, [&](DriveConnection& c) { return NvmeRead(c, ns2, 7, 2); }, NvmeQueue::Io,
       0x02, 2, 7, 0, 1, 8192},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m.connection->Close();
    ASSERT_TRUE(m.connection->Open(c.drive));
    m.bench.ClearLog();
    const NvmeReply reply = c.command(*m.connection);
    EXPECT_TRUE(NvmeSucceeded(reply));
    const auto log = m.bench.LogFor(c.drive);
    ASSERT_EQ(log.size(), 1u);
    ASSERT_TRUE(log[0].nvme);
    const NvmeRequest& r = log[0].nvme_request;
    EXPECT_EQ(r.queue, c.queue);
    EXPECT_EQ(r.opcode, c.opcode);
    EXPECT_EQ(r.nsid, c.nsid);
    EXPECT_EQ(r.cdw10, c.cdw10);
    EXPECT_EQ(r.cdw11, c.cdw11);
    EXPECT_EQ(r.cdw12, c.cdw12);
    EXPECT_EQ(r.data_length, c.data_length);
    EXPECT_EQ(r.timeout_seconds, 10u);
  }

  // What came back is the drives' own.
  m.connection->Close();
  ASSERT_TRUE(m.connection->Open(31));
  EXPECT_EQ(m.connection->NvmeNamespaceId(), 1u);
  ASSERT_TRUE(NvmeSucceeded(NvmeIdentifyController(*m.connection)));
  NvmeControllerIdentity controller;
  DecodeIdentifyController(m.buffers.a(), controller);
  EXPECT_STREQ(controller.model, "Samsung SSD 980 PRO 1TB");
  EXPECT_STREQ(controller.serial, "S5GXNX0T123456A");
  ASSERT_TRUE(NvmeSucceeded(NvmeReadHealthLog(*m.connection)));
  NvmeHealth health;
  DecodeHealthLog(m.buffers.a(), health);
  EXPECT_EQ(health.temperature_kelvin, 309);
  EXPECT_EQ(health.available_spare, 100);

  m.connection->Close();
  ASSERT_TRUE(m.connection->Open(30));
  EXPECT_EQ(m.connection->NvmeNamespaceId(), 2u);
  ASSERT_TRUE(NvmeSucceeded(NvmeIdentifyNamespace(*m.connection, 2)));
  NvmeNamespace decoded;
  ASSERT_EQ(DecodeIdentifyNamespace(m.buffers.a(), 2, decoded), NvmeNamespaceDecode::Ok);
  EXPECT_EQ(decoded.block_bytes, 4096u);
  EXPECT_EQ(decoded.sectors(), kNvme2Blocks * 8);
  EXPECT_TRUE(m.bench.Media(30).IsZeroed(100 * 8, 16 * 8));
  EXPECT_FALSE(m.bench.Media(30).IsZeroed(99 * 8, 8));
  ASSERT_TRUE(NvmeSucceeded(NvmeRead(*m.connection, ns2, 7, 1)));
  const auto block = m.bench.Nvme(30).ReadBlock(7);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), m.buffers.a()));

  // The SATA disk carries no NVMe, and the namespaces no ATA.
  m.connection->Close();
  ASSERT_TRUE(m.connection->Open(0));
  EXPECT_EQ(m.connection->NvmeNamespaceId(), std::nullopt);
  m.connection->Close();
  ASSERT_TRUE(m.connection->Open(31));
  m.bench.ClearLog();
  EXPECT_FALSE(IdentifyDevice(*m.connection));
  EXPECT_FALSE(Inquiry(*m.connection));
  EXPECT_TRUE(m.bench.LogFor(31).empty());
  m.connection->Close();
  EXPECT_EQ(m.bench.OpenHandleCount(), 0);
}

// Faults of the drive and refusals of the system come back as the program must tell them
// apart.
TEST(LinuxScanFlow, NvmeFailuresComeBackForWhatTheyAre) {
  struct Case {
    const char* name;
    sim::Fault fault;
    NvmeOutcome outcome;
    std::uint16_t status;
  };
  const auto on_health = [](sim::FaultEffect effect, std::uint16_t status = 0x0006) {
    sim::Fault f;
    f.match.drive_number = 31;
    f.match.nvme_opcode = kNvmeAdminGetLogPage;
    f.effect = effect;
    f.nvme_status = status;
    return f;
  };
  const Case cases[] = {
      {"InternalError", on_health(sim::FaultEffect::NvmeError), NvmeOutcome::Completed, 0x0006},
      {"InvalidLogPage", on_health(sim::FaultEffect::NvmeError, 0x4109), NvmeOutcome::Completed,
       0x4109},
      {"WithheldBySystem", on_health(sim::FaultEffect::Refused), NvmeOutcome::Refused, 0},
      {"GivenUpByTheHost", on_health(sim::FaultEffect::Timeout), NvmeOutcome::CallFailed, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LinuxMachineBench m;
    m.AddNvme();
    m.bench.AddFault(c.fault);
    ASSERT_TRUE(m.connection->Open(31));
    const NvmeReply reply = NvmeReadHealthLog(*m.connection);
    EXPECT_EQ(reply.outcome, c.outcome);
    EXPECT_EQ(reply.status, c.status);
  }
  // A block the drive cannot read: a media error status, not a failed call.
  LinuxMachineBench m;
  m.AddNvme();
  m.bench.Nvme(31).mutable_setup().bad_blocks = {5000};
  NvmeNamespace ns;
  ns.nsid = 1;
  ns.block_count = kNvme1Blocks;
  ns.block_bytes = 512;
  ASSERT_TRUE(m.connection->Open(31));
  const NvmeReply reply = NvmeVerify(*m.connection, ns, 4992, 16);
  EXPECT_EQ(reply.outcome, NvmeOutcome::Completed);
  EXPECT_EQ(NvmeStatusCodeType(reply.status), kNvmeSctMediaError);
  EXPECT_EQ(NvmeStatusCode(reply.status), kNvmeScUnrecoveredReadError);
}

// The system on one namespace of a controller: both of its namespaces stay out of the
// scan, the SATA and USB drives are still offered.
TEST(LinuxScanFlow, SystemOnANvmeNamespaceKeepsItsControllerOut) {
  LinuxMachineBench m;
  m.AddNvme();
  m.tree.MountInfo("20 1 259:1 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p1 rw\n"
                   "22 20 8:1 / /data rw,relatime shared:2 - xfs /dev/sda1 rw\n");
  m.Refresh();
  EXPECT_EQ(m.io->SystemDriveNumbers(), (std::vector<int>{30, 31}));
  EXPECT_EQ(Listed(m.table), (std::vector<int>{0, 1, 3}));
  EXPECT_EQ(m.Record(0)->drive_letter, 'D');
}

// A SCSI disk that arrives on a number a namespace holds is not reached by the scan, and
// the program says which and why; the namespace keeps its number and stays listed.
TEST(LinuxScanFlow, DriveLeftWithoutANumberIsNamed) {
  LinuxMachineBench m;
  m.AddNvme();
  app_test::ScriptedUser user;
  user.ExpectMessageBox(Unreachable(kSilentSdc)).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog&) {
        EXPECT_TRUE(m.io->UnreachableDrives().empty());
        m.tree.ScsiDisk("sdaf", Ata(5), "65:240");
      })
      .Press(ids::main_window::kScan);
  user.ExpectMessageBox(
          Unreachable(std::string("sdaf (drive number 31 is held by nvme0n1); ") + kSilentSdc))
      .Press(ui::IDOK);
  user.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog&) { EXPECT_EQ(m.io->DiskOfDrive(31), "nvme0n1"); })
      .Escape();
  app_test::RunProgram(*m.io, *m.catalog);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
  EXPECT_EQ(user.message_boxes().size(), 2u);
}

// Root without CAP_SYS_ADMIN (a container that drops it): the kernel would withhold the
// NVMe commands, so the namespaces are not offered, and the user is told why they are
// missing, at start-up and after Scan; the SATA and USB drives are listed as ever.
TEST(LinuxScanFlow, NamespacesWithoutCapSysAdminAreNamedNotListed) {
  LinuxMachineBench m(/*cap_sys_admin=*/false);
  m.AddNvme();
  const std::string notice = Unreachable(
      "nvme0n1 (NVMe commands need the CAP_SYS_ADMIN capability, which this process lacks); "
      "nvme0n2 (NVMe commands need the CAP_SYS_ADMIN capability, which this process lacks); " +
      std::string(kSilentSdc));
  app_test::ScriptedUser user;
  user.ExpectMessageBox(notice).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog& dlg) {
        EXPECT_EQ(app_test::DriveListColumn(dlg, 0), (std::vector<std::string>{"0", "1"}));
      })
      .Press(ids::main_window::kScan);
  user.ExpectMessageBox(notice).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate).Escape();
  app_test::RunProgram(*m.io, *m.catalog);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
  for (const auto& received : m.bench.Log()) EXPECT_FALSE(received.nvme);
  EXPECT_EQ(m.io->Open("\\\\.\\PhysicalDrive31"), kInvalidHandle);
}

// The namespaces through the main window: listed beside the SATA and USB drives with
// their identity, and Erase MBR on the one of 4096-byte blocks zeroes its first block
// through the NVMe pass-through, and nothing of any other drive.
TEST(LinuxScanFlow, NvmeNamespacesListedAndErasedThroughTheMainWindow) {
  LinuxMachineBench m;
  m.AddNvme();
  app_test::ScriptedUser user;
  user.ExpectMessageBox(Unreachable(kSilentSdc)).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog& dlg) {
        EXPECT_EQ(app_test::DriveListColumn(dlg, 0), (std::vector<std::string>{"0", "1", "30", "31"}));
        EXPECT_EQ(app_test::DriveListColumn(dlg, 1)[2], "Samsung SSD 980 PRO 1TB");
        EXPECT_EQ(app_test::DriveListColumn(dlg, 2)[3], "S5GXNX0T123456A");
        EXPECT_EQ(app_test::DriveListColumn(dlg, 3)[2], "5B2QGXA7");
        const DriveTable& table = app_test::Main(dlg).drive_table;
        EXPECT_EQ(table.records[2].total_sectors, kNvme2Blocks * 8);
        EXPECT_EQ(table.records[3].total_sectors, kNvme1Blocks);
        m.bench.ClearLog();
      })
      .Check(ids::main_window::kDriveList, 2)
      .Press(ids::main_window::kUtilities);
  user.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseMbr);
  user.Expect(ids::kWarningTemplate).Press(ui::IDOK);
  user.Expect(ids::kSureTemplate).Press(ui::IDOK);
  user.ExpectMessageBox(MbrBlockNote(4096)).Press(ui::IDOK);
  user.Expect(ids::kEraseMbrDoneTemplate).Press(ui::IDOK);
  user.ExpectMessageBox("The MBR was erased by NVMe Write Zeroes.").Press(ui::IDOK);
  user.Expect(ids::kMainTemplate)
      .Do([](ui::Dialog& dlg) { EXPECT_EQ(app_test::DriveListColumn(dlg, 5)[2], "Completed"); })
      .Escape();
  app_test::RunProgram(*m.io, *m.catalog);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
  EXPECT_TRUE(m.bench.Media(30).IsZeroed(0, 8));
  EXPECT_FALSE(m.bench.Media(30).IsZeroed(8, 1));
  EXPECT_FALSE(m.bench.Media(31).IsZeroed(0, 1));
  EXPECT_FALSE(m.bench.Media(0).IsZeroed(0, 1));
  const auto log = m.bench.Log();
  ASSERT_FALSE(log.empty());
  for (const auto& received : log) {
    EXPECT_EQ(received.drive_number, 30);
    EXPECT_TRUE(received.nvme);
  }
}

// A write the kernel withholds (EACCES: no CAP_SYS_ADMIN) is told as a refusal, not as a
// failed drive, and changes nothing.
TEST(LinuxScanFlow, AnNvmeWriteTheKernelWithholdsIsToldAsRefused) {
  LinuxMachineBench m;
  m.AddNvme();
  m.bench.Nvme(31).mutable_setup().os_refused_io = {kNvmeIoWriteZeroes, kNvmeIoWrite};
  app_test::ScriptedUser user;
  user.ExpectMessageBox(Unreachable(kSilentSdc)).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate)
      .Check(ids::main_window::kDriveList, 3)
      .Press(ids::main_window::kUtilities);
  user.Expect(ids::kUtilitiesTemplate).Press(ids::utilities::kEraseMbr);
  user.Expect(ids::kWarningTemplate).Press(ui::IDOK);
  user.Expect(ids::kSureTemplate).Press(ui::IDOK);
  user.ExpectMessageBox(nvme_text::kMbrRefused).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate)
      .Do([](ui::Dialog& dlg) { EXPECT_EQ(app_test::DriveListColumn(dlg, 5)[3], "Refused"); })
      .Escape();
  app_test::RunProgram(*m.io, *m.catalog);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
  EXPECT_FALSE(m.bench.Media(31).IsZeroed(0, 1));
}

// Nothing listed: the window names every disk met and why it is left out, from the
// adapter (an open refused, a virtio disk) and from the scan (no identify answered, the
// running system's disk).
TEST(LinuxScanFlow, AnEmptyListNamesWhatWasFound) {
  LinuxMachineBench m;
  m.bench.FailOpen(0);
  m.bench.FailOpen(1);
  m.tree.VirtioDisk("vda", "254:0");
  const std::string found =
      "No drive is listed. The scan found:\n\n"
      "sda: cannot be opened: permission denied\n"
      "sdb: cannot be opened: permission denied\n"
      "sdc, JMicron USB to ATA: answered no ATA or NVMe identify\n"
      "sdd: holds the running system\n"
      "vda: a virtio disk, which takes no ATA or NVMe commands";
  app_test::ScriptedUser user;
  user.ExpectMessageBox(found).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate).Press(ids::main_window::kScan);
  user.ExpectMessageBox(found).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog& dlg) {
        EXPECT_TRUE(app_test::DriveListColumn(dlg, 0).empty());
        m.bench.ClearFaults();  // the process may open them now
      })
      .Press(ids::main_window::kScan);
  // Drives listed again: only what cannot be reached is told.
  user.ExpectMessageBox(Unreachable(kSilentSdc)).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate)
      .Do([](ui::Dialog& dlg) {
        EXPECT_EQ(app_test::DriveListColumn(dlg, 0), (std::vector<std::string>{"0", "1"}));
      })
      .Escape();
  app_test::RunProgram(*m.io, *m.catalog);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
}

// Which block devices are disks the program cannot command, and how they are named.
TEST(LinuxOtherDisks, KindsByKernelName) {
  const struct {
    const char* name;
    bool has_device;
    std::optional<std::string> kind;
  } cases[] = {
      {"vda", true, "a virtio disk, which takes no ATA or NVMe commands"},
      {"xvdb", true, "a Xen virtual disk, which takes no ATA or NVMe commands"},
      {"mmcblk0", true, "an SD card or eMMC, which takes no ATA or NVMe commands"},
      {"mmcblk0boot0", true, std::nullopt},
      {"sr0", true, std::nullopt},
      {"sdb", true, std::nullopt},
      {"nvme0n1", true, std::nullopt},
      {"loop0", false, std::nullopt},
      {"rbd0", true, "a disk of a kind the program cannot send ATA or NVMe commands to"},
  };
  for (const auto& c : cases) EXPECT_EQ(KindOfOtherDisk(c.name, c.has_device), c.kind) << c.name;
}

constexpr const char* kZfsVarNotice =
    "The disks that hold the running system could not be determined: /var cannot be "
    "traced to its disks (zfs rpool/var).\n\nNo drive is listed, so that none of them "
    "can be erased or tested by mistake.";

// A system the adapter cannot trace: the program says so when it starts, lists no drive
// and sends no drive a command; "Scan" says it again, until the system can be traced.
TEST(LinuxScanFlow, UntraceableSystemIsNamedAndNoDriveIsOffered) {
  LinuxMachineBench m;
  const std::string traceable =
      "20 1 8:50 / / rw,relatime shared:1 - ext4 /dev/sdd2 rw\n"
      "22 20 8:1 / /data rw,relatime shared:2 - xfs /dev/sda1 rw\n";
  m.tree.MountInfo(traceable + "23 20 0:44 / /var rw shared:3 - zfs rpool/var rw,xattr\n");
  app_test::ScriptedUser user;
  user.ExpectMessageBox(kZfsVarNotice).Do([](ui::Dialog& dlg) {
    EXPECT_TRUE(app_test::DriveListColumn(dlg, 0).empty());
  }).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog& dlg) {
        EXPECT_EQ(app_test::Main(dlg).drive_table.count, 0);
        EXPECT_TRUE(m.bench.OpenedPaths().empty());
        EXPECT_TRUE(m.bench.Log().empty());
      })
      .Press(ids::main_window::kScan);
  user.ExpectMessageBox(kZfsVarNotice).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate)
      .Do([&](ui::Dialog& dlg) {
        EXPECT_TRUE(app_test::DriveListColumn(dlg, 0).empty());
        m.tree.MountInfo(traceable);  // the pool is exported
      })
      .Press(ids::main_window::kScan);
  user.ExpectMessageBox(Unreachable(kSilentSdc)).Press(ui::IDOK);
  user.Expect(ids::kMainTemplate)
      .Do([](ui::Dialog& dlg) {
        EXPECT_EQ(app_test::DriveListColumn(dlg, 0), (std::vector<std::string>{"0", "1"}));
        EXPECT_TRUE(app_test::Main(dlg).system_undetermined.empty());
      })
      .Escape();

  app_test::RunProgram(*m.io, *m.catalog);
  EXPECT_FALSE(user.failed());
  EXPECT_EQ(user.pending_steps(), 0u);
  ASSERT_EQ(user.message_boxes().size(), 3u);
  for (const auto& box : user.message_boxes()) {
    EXPECT_EQ(box.caption, "Plovix");
    EXPECT_EQ(box.type, ui::MB_OK | ui::MB_ICONEXCLAMATION);
  }
}

}  // namespace
}  // namespace plovix::linuxdev
