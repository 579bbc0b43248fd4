#pragma once

#include "devices/sim/Bench.h"

namespace plovix::sim {

// The bench Plovix-demo runs on: a system disk, healthy, worn and SMART-off SATA
// drives, three USB drives (vendor-block bridge, standard bridge, unmatched) and an
// NVMe drive with 4096-byte blocks.
void BuildDemoBench(Bench& bench);

}  // namespace plovix::sim
