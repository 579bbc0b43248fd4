// The reports tests' names for the shared temporary working directory.
#pragma once

#include "tests/support/temp_dir.h"

namespace plovix::testing_support {

using ScratchDir = TempWorkDir;

}  // namespace plovix::testing_support
