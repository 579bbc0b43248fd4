// The program's own scan and SMART read through the Linux adapter: a fake sysfs tree
// says which disks exist and how they hang together, and a stand-in for the kernel's
// SCSI layer and libata hands every SG_IO call to a simulated bench drive, answering
// the way a 6.1 kernel does (sense data as captured from one).
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/CPlovixApp.h"
#include "app/CPlovixDlg.h"
#include "app_flow.h"
#include "drive/Commands.h"
#include "drive/DriveConnection.h"
#include "inventory/DriveRecord.h"
#include "inventory/DriveScan.h"
#include "linux_fake_tree.h"
#include "platform/linux/LinuxDeviceCatalog.h"
#include "platform/linux/LinuxDeviceIo.h"
#include "platform/linux/SysfsLayout.h"
#include "reports/SmartAttributes.h"
#include "sim/Bench.h"

namespace plovix::linuxdev {
namespace {

constexpr std::uint8_t kCheckCondition = 0x02;
constexpr std::uint64_t kSataSectors = 15628053168ULL;  // 8 TB: LBAs beyond 32 bits

// What libata and the SCSI layer make of an SG_IO call, with a bench drive behind.
class KernelOverBench {
 public:
  explicit KernelOverBench(sim::Bench& bench) : bench_(bench) {}

  int Open(const std::string& node) {
    const auto index = SdIndex(node.substr(node.find_last_of('/') + 1));
    if (!index) return -1;
    const DeviceHandle h = bench_.Open("\\\\.\\PhysicalDrive" + std::to_string(*index));
    if (h == kInvalidHandle) return -1;
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

// sda SATA (data, mounted), sdb USB with the standard block, sdc USB that forwards
// nothing, sdd SATA holding the root file system.
class LinuxMachineBench {
 public:
  LinuxMachineBench() : kernel(bench) {
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
    io = std::make_unique<LinuxDeviceIo>(std::move(system));
    catalog = std::make_unique<LinuxDeviceCatalog>(tree.root());
    connection = std::make_unique<DriveConnection>(*io, buffers);
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
  user.ui.ExpectMessageBox(kZfsVarNotice).Do([](ui::Dialog& dlg) {
    EXPECT_TRUE(app_test::Column(dlg, 0).empty());
  }).Press(ui::IDOK);
  user.ui.Expect(kMainTemplate)
      .Do([&](ui::Dialog& dlg) {
        EXPECT_EQ(app_test::Main(dlg).drive_table.count, 0);
        EXPECT_TRUE(m.bench.OpenedPaths().empty());
        EXPECT_TRUE(m.bench.Log().empty());
      })
      .Press(main_ids::kScan);
  user.ui.ExpectMessageBox(kZfsVarNotice).Press(ui::IDOK);
  user.ui.Expect(kMainTemplate)
      .Do([&](ui::Dialog& dlg) {
        EXPECT_TRUE(app_test::Column(dlg, 0).empty());
        m.tree.MountInfo(traceable);  // the pool is exported
      })
      .Press(main_ids::kScan)
      .Do([](ui::Dialog& dlg) {
        EXPECT_EQ(app_test::Column(dlg, 0), (std::vector<std::string>{"0", "1"}));
        EXPECT_TRUE(app_test::Main(dlg).system_undetermined.empty());
      })
      .Escape();

  CPlovixApp(*m.io, *m.catalog).InitInstance();
  EXPECT_FALSE(user.ui.failed());
  EXPECT_EQ(user.ui.pending_steps(), 0u);
  ASSERT_EQ(user.ui.message_boxes().size(), 2u);
  for (const auto& box : user.ui.message_boxes()) {
    EXPECT_EQ(box.caption, "Plovix");
    EXPECT_EQ(box.type, ui::MB_OK | ui::MB_ICONEXCLAMATION);
  }
}

}  // namespace
}  // namespace plovix::linuxdev
