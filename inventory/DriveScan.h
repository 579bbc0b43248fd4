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

void MatchUsbStorage(DriveRecord& record, DeviceCatalog& catalog);
void MatchUsbDevice(DriveRecord& record, DeviceCatalog& catalog);

}  // namespace plovix
