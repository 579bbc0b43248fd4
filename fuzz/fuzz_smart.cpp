// SMART READ DATA and READ THRESHOLDS sectors decoded into the attribute table and the
// list of attributes outside the catalogue.
#include "fuzz/FuzzSupport.h"
#include "reports/SmartAttributes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto values = plovix::fuzz::Block<512>(data, size);
  const auto thresholds =
      plovix::fuzz::Block<512>(size > 512 ? data + 512 : data, size > 512 ? size - 512 : 0);
  plovix::SmartAttributeTable table;
  const int rows = plovix::DecodeSmartValues(values.data(), table);
  if (rows < 0 || rows > plovix::kSmartCatalogSize) std::abort();
  plovix::ApplySmartThresholds(thresholds.data(), table);
  for (const auto& row : table.rows) (void)plovix::IsAttributeFailing(row);

  plovix::SmartOtherAttributes others;
  plovix::DecodeOtherAttributes(values.data(), others);
  if (others.count < 0 || others.count > plovix::kSmartEntryCount) std::abort();
  plovix::ApplyOtherThresholds(thresholds.data(), others);
  for (int i = 0; i < others.count; ++i) {
    const auto& row = others.rows[i];
    if (row.id == 0 || (i > 0 && others.rows[i - 1].id >= row.id)) std::abort();
    if (row.raw48 >> 48 != 0) std::abort();
    (void)plovix::IsAttributeFailing(row);
    (void)plovix::OtherAttributeName(row.id);
  }
  return 0;
}
