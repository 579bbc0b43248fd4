#include "reports/SmartVerdict.h"

#include <algorithm>

#include "reports/NvmeHealthRows.h"

namespace plovix {

const char* SmartVerdictWord(SmartVerdict verdict) {
  switch (verdict) {
    case SmartVerdict::Healthy: return "Healthy";
    case SmartVerdict::Failing: return "Failing";
    case SmartVerdict::Unknown: break;
  }
  return "Unknown";
}

SmartVerdict JudgeAttributes(const SmartAttributeTable& table, const SmartOtherAttributes& others) {
  bool judged = false;
  for (const SmartAttributeRow& row : table.rows) {
    if (row.id == 0) continue;
    if (IsAttributeFailing(row)) return SmartVerdict::Failing;
    judged = true;
  }
  const int count = std::clamp(others.count, 0, kSmartEntryCount);
  for (int k = 0; k < count; ++k) {
    if (IsAttributeFailing(others.rows[k])) return SmartVerdict::Failing;
    judged = true;
  }
  return judged ? SmartVerdict::Healthy : SmartVerdict::Unknown;
}

SmartVerdict CombineVerdicts(SmartVerdict attributes, DriveSmartStatus own) {
  if (attributes == SmartVerdict::Failing || own == DriveSmartStatus::ThresholdExceeded) {
    return SmartVerdict::Failing;
  }
  if (attributes == SmartVerdict::Healthy || own == DriveSmartStatus::Passed) {
    return SmartVerdict::Healthy;
  }
  return SmartVerdict::Unknown;
}

SmartVerdict JudgeHealth(const NvmeHealth& health, const DriveRecord& record) {
  const std::vector<HealthRow> rows = NvmeHealthRows(health, record);
  const bool failing = std::any_of(rows.begin(), rows.end(),
                                   [](const HealthRow& row) { return row.image == kHealthBad; });
  return failing ? SmartVerdict::Failing : SmartVerdict::Healthy;
}

}  // namespace plovix
