#pragma once

#include <string>

#include "drive/DriveConnection.h"
#include "inventory/DeviceCatalog.h"
#include "inventory/DriveRecord.h"

namespace plovix {

// Physical drives 0..31 and volumes A..Z; accepted records packed in the table.
// When the adapter cannot tell which drives carry the running system, no drive is
// accepted and *system_undetermined (if given) says what it could not trace.
void ScanDrives(DriveConnection& connection, DriveTable& table, std::int32_t& count,
                std::string* system_undetermined = nullptr);
// Clear everything, scan, match USB drives, drop the unsupported ones.
void RefreshDriveTable(DriveTable& table, UnsupportedUsbList& unsupported,
                       DriveConnection& connection, DeviceCatalog& catalog,
                       std::string* system_undetermined = nullptr);

// Whether the drive the open connection reaches is still the listed one: the same model,
// serial and size, asked in the record's own way (IDENTIFY DEVICE direct or through its
// bridge, NVMe Identify). The list is not refreshed when drives come and go, so by the
// time a utility writes, its number may name another disk; false also when the drive
// does not answer. Buffer A is overwritten.
bool IsStillListedDrive(DriveConnection& connection, const DriveRecord& record);

void MatchUsbStorage(DriveRecord& record, DeviceCatalog& catalog);
void MatchUsbDevice(DriveRecord& record, DeviceCatalog& catalog);

}  // namespace plovix
