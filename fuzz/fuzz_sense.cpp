// Sense data from a SCSI/ATA translation layer searched for the ATA registers.
#include "drive/DeviceIo.h"
#include "fuzz/FuzzSupport.h"
#include "devices/linux/SgTranslate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The decoder reads only the bytes it is given: copy them to an exact-size buffer so
  // a read past the end is caught.
  std::vector<std::uint8_t> sense(data, data + size);
  plovix::AtaPassThroughRequest reply{};
  plovix::linuxdev::ReplyFromSense(sense.data(), sense.size(), reply);
  return 0;
}
