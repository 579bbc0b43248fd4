#pragma once

#include "sim/Bench.h"

namespace plovix::sim {

// The bench Plovix-demo runs on: a system disk, healthy, worn and SMART-off SATA
// drives, and three USB drives (vendor-block bridge, standard bridge, unmatched).
void BuildDemoBench(Bench& bench);

}  // namespace plovix::sim
