#pragma once

#include "drive/DriveConnection.h"
#include "inventory/DeviceCatalog.h"
#include "inventory/DriveRecord.h"

namespace plovix {

// Physical drives 0..31 and volumes A..Z; accepted records packed in the table.
void ScanDrives(DriveConnection& connection, DriveTable& table, std::int32_t& count);
// Clear everything, scan, match USB drives, drop the unsupported ones.
void RefreshDriveTable(DriveTable& table, UnsupportedUsbList& unsupported,
                       DriveConnection& connection, DeviceCatalog& catalog);

void MatchUsbStorage(DriveRecord& record, DeviceCatalog& catalog);
void MatchUsbDevice(DriveRecord& record, DeviceCatalog& catalog);

}  // namespace plovix
