// SMART READ DATA and READ THRESHOLDS sectors decoded into the attribute table.
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
  return 0;
}
