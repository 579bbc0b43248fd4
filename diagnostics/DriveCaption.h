// The drive a dialog acts on, named after the dialog's own caption, so a user running
// several tests or an erase can always see which disk the window is about.
#pragma once

#include <string>

#include "inventory/DriveRecord.h"
#include "ui/Dialog.h"

namespace plovix {

// " - <drive number>: <model> <serial>"
std::string DriveCaption(const DriveRecord& record);

// Appends drive_caption to the caption the dialog opened with; nothing when it is empty.
// Called from OnInitDialog, which every showing runs after the template caption is set.
void NameDriveInCaption(ui::Dialog& dialog, const std::string& drive_caption);

}  // namespace plovix
