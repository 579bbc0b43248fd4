// INQUIRY data from a USB bridge: copied, the bridge recognised, the names split into
// words and the catalogue patterns built, as the scan does.
#include "fuzz/FuzzSupport.h"
#include "inventory/DriveRecord.h"
#include "inventory/Identity.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto inquiry = plovix::fuzz::Block<40>(data, size);
  plovix::DriveRecord record;
  plovix::CopyInquiry(inquiry.data(), record);
  plovix::RecogniseBridge(record);
  plovix::SplitVendorWords(record);
  plovix::SplitProductWords(record);
  plovix::BuildVenPattern(record);
  plovix::BuildProdPattern(record);
  plovix::BuildRevPattern(record);

  plovix::fuzz::RequireTerminated(record.inquiry_vendor);
  plovix::fuzz::RequireTerminated(record.inquiry_product);
  plovix::fuzz::RequireTerminated(record.inquiry_revision);
  plovix::fuzz::RequireTerminated(record.bridge_id);
  plovix::fuzz::RequireTerminated(record.ven_pattern);
  plovix::fuzz::RequireTerminated(record.prod_pattern);
  plovix::fuzz::RequireTerminated(record.rev_pattern);
  if (record.vendor_word_count > 4 || record.product_word_count > 8) std::abort();
  for (const auto& word : record.vendor_words) plovix::fuzz::RequireTerminated(word);
  for (const auto& word : record.product_words) plovix::fuzz::RequireTerminated(word);
  return 0;
}
