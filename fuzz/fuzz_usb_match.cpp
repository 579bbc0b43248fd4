// Device instance ids from the catalogue matched against a USB drive's INQUIRY
// patterns. The first 40 bytes are the INQUIRY data; the rest is a list of instance
// ids, one a line, where a line "?" stands for an id that cannot be read and an input
// starting with '!' for a catalogue that cannot be listed at all.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "inventory/DeviceCatalog.h"
#include "inventory/DriveRecord.h"
#include "inventory/DriveScan.h"
#include "inventory/Identity.h"

namespace {

class FakeCatalog : public plovix::DeviceCatalog {
 public:
  std::optional<std::vector<std::optional<std::string>>> devices;
  std::optional<std::vector<std::optional<std::string>>> PresentDevices(
      std::string_view, std::string_view) override {
    return devices;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto inquiry = plovix::fuzz::Block<40>(data, size);
  plovix::DriveRecord record;
  record.via_scsi = 1;
  plovix::CopyInquiry(inquiry.data(), record);
  plovix::RecogniseBridge(record);
  plovix::SplitVendorWords(record);
  plovix::SplitProductWords(record);
  plovix::BuildVenPattern(record);
  plovix::BuildProdPattern(record);
  plovix::BuildRevPattern(record);

  FakeCatalog catalog;
  const std::string_view rest =
      size > 40 ? std::string_view(reinterpret_cast<const char*>(data) + 40, size - 40)
                : std::string_view();
  if (rest.empty() || rest.front() != '!') {
    catalog.devices.emplace();
    std::size_t start = 0;
    while (start <= rest.size()) {
      std::size_t end = rest.find('\n', start);
      if (end == std::string_view::npos) end = rest.size();
      const std::string_view line = rest.substr(start, end - start);
      if (line == "?") {
        catalog.devices->push_back(std::nullopt);
      } else {
        catalog.devices->push_back(std::string(line));
      }
      start = end + 1;
    }
  }

  plovix::MatchUsbStorage(record, catalog);
  plovix::MatchUsbDevice(record, catalog);
  plovix::fuzz::RequireTerminated(record.usb_serial);
  if (record.usb_device_matched == 1 && record.usbstor_matched != 1) std::abort();
  return 0;
}
