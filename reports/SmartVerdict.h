// One word for a drive's SMART state, as the test log report prints it, judged by the
// rule the SMART status dialog paints its good and bad images with.
#pragma once

#include "drive/Commands.h"
#include "drive/NvmeDecode.h"
#include "inventory/DriveRecord.h"
#include "reports/SmartAttributes.h"

namespace plovix {

// Unknown unless the state was read and judged: a report never calls a drive healthy on
// the strength of nothing.
enum class SmartVerdict { Unknown, Healthy, Failing };

// "Unknown", "Healthy" or "Failing".
const char* SmartVerdictWord(SmartVerdict verdict);

// ATA: Failing when any attribute, the catalogue's or another the drive reports, fails its
// threshold; Unknown when the drive reported no attribute at all.
SmartVerdict JudgeAttributes(const SmartAttributeTable& table, const SmartOtherAttributes& others);
// The attributes' verdict and the drive's own (SMART RETURN STATUS): Failing when either
// says so, Healthy when either says so and neither fails, Unknown when neither tells.
SmartVerdict CombineVerdicts(SmartVerdict attributes, DriveSmartStatus own);
// NVMe: Failing when any field of the health log is past its limit.
SmartVerdict JudgeHealth(const NvmeHealth& health, const DriveRecord& record);

}  // namespace plovix
