// The per-drive log: four-line records appended after every test and utility.
#pragma once

#include <ctime>
#include <string>

namespace plovix {

// File name of a drive's log, made safe from a serial that came from the device.
std::string LogFileName(const std::string& serial);
// Appends tag, "Done", result and the time; the record is whole on disk on return.
// A file that cannot be written drops the record silently.
void AppendDriveLog(const std::string& serial, const std::string& tag,
                    const std::string& result);
// "%m/%d/%Y %H:%M:%S" of the local time; empty when formatting yields nothing.
std::string FormatLogTime(std::time_t time);

}  // namespace plovix
