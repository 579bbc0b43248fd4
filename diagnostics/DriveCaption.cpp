#include "diagnostics/DriveCaption.h"

#include <cstring>

namespace plovix {

namespace {

template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

}  // namespace

std::string DriveCaption(const DriveRecord& record) {
  return " - " + std::to_string(record.drive_number) + ": " + FieldText(record.model) + " " +
         FieldText(record.serial);
}

void NameDriveInCaption(ui::Dialog& dialog, const std::string& drive_caption) {
  if (!drive_caption.empty()) dialog.SetCaption(dialog.caption() + drive_caption);
}

}  // namespace plovix
