// The program's resources as data: dialog templates and the string table.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ui/Template.h"

namespace plovix::resources {

// Every dialog template of the program.
std::vector<ui::DialogTemplate> ProgramTemplates();
// String table: id -> UTF-8 text.
std::map<int, std::string> ProgramStrings();

}  // namespace plovix::resources
