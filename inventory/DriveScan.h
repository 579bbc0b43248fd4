#pragma once

#include <string>
#include <vector>

#include "drive/DriveConnection.h"
#include "inventory/DeviceCatalog.h"
#include "inventory/DriveRecord.h"

namespace plovix {

// What a scan met and did not list, each as "<name> (<why>)", in the order met.
struct ScanNotes {
  // Opened, but answered no identify of any kind (a disk that takes no ATA pass-through,
  // such as a virtio-scsi disk or plain USB storage): told with the unreachable drives.
  std::vector<std::string> silent;
  // The disks of the running system: told when nothing else is listed.
  std::vector<std::string> system;
};

// Physical drives 0..31 and volumes A..Z; accepted records packed in the table.
// When the adapter cannot tell which drives carry the running system, no drive is
// accepted and *system_undetermined (if given) says what it could not trace.
void ScanDrives(DriveConnection& connection, DriveTable& table, std::int32_t& count,
                std::string* system_undetermined = nullptr, ScanNotes* notes = nullptr);
// Clear everything, scan, match USB drives, drop the unsupported ones.
void RefreshDriveTable(DriveTable& table, UnsupportedUsbList& unsupported,
                       DriveConnection& connection, DeviceCatalog& catalog,
                       std::string* system_undetermined = nullptr, ScanNotes* notes = nullptr);

// Whether the drive the open connection reaches is still the listed one: the same model,
// serial and size, asked in the record's own way (IDENTIFY DEVICE direct or through its
// bridge, NVMe Identify). The list is not refreshed when drives come and go, so by the
// time a utility writes, its number may name another disk; false also when the drive
// does not answer. Buffer A is overwritten.
bool IsStillListedDrive(DriveConnection& connection, const DriveRecord& record);

void MatchUsbStorage(DriveRecord& record, DeviceCatalog& catalog);
void MatchUsbDevice(DriveRecord& record, DeviceCatalog& catalog);

}  // namespace plovix
