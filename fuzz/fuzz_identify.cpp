// IDENTIFY DEVICE data from a drive, decoded into a record.
#include "fuzz/FuzzSupport.h"
#include "inventory/DriveRecord.h"
#include "inventory/Identity.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto sector = plovix::fuzz::Block<512>(data, size);
  plovix::DriveRecord record;
  plovix::DecodeIdentify(sector.data(), record);
  plovix::fuzz::RequireTerminated(record.model);
  plovix::fuzz::RequireTerminated(record.serial);
  plovix::fuzz::RequireTerminated(record.firmware);
  (void)plovix::CapacityGb(record);
  (void)plovix::IsSmartUsable(record);
  return 0;
}
