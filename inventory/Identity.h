// Turning IDENTIFY DEVICE and INQUIRY answers into the identity fields of a record.
#pragma once

#include <cstdint>

#include "inventory/DriveRecord.h"

namespace plovix {

void DecodeIdentify(const std::uint8_t* identify_data /* 512 bytes */, DriveRecord& record);
// Copies vendor, product, revision and bridge id out of 40 bytes of INQUIRY data.
void CopyInquiry(const std::uint8_t* inquiry_data /* 40 bytes */, DriveRecord& record);
void RecogniseBridge(DriveRecord& record);
void SplitVendorWords(DriveRecord& record);
void SplitProductWords(DriveRecord& record);
void BuildVenPattern(DriveRecord& record);
void BuildProdPattern(DriveRecord& record);
void BuildRevPattern(DriveRecord& record);

}  // namespace plovix
