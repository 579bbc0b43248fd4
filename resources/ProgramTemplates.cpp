#include "resources/Resources.h"

namespace plovix::resources {

std::vector<ui::DialogTemplate> ProgramTemplates() { return {}; }

std::map<int, std::string> ProgramStrings() { return {}; }

}  // namespace plovix::resources
