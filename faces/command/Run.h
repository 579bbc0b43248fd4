// What a command asks for, how it is played through the program's own windows, and
// what came of it: the pieces between the option table and the printed output.
#pragma once

#include <cstdint>
#include <ctime>
#include <ostream>
#include <string>
#include <vector>

#include "drive/DeviceIo.h"
#include "drive/NvmeDecode.h"
#include "inventory/DeviceCatalog.h"
#include "inventory/DriveRecord.h"
#include "inventory/DriveScan.h"
#include "reports/LogReport.h"
#include "reports/SmartAttributes.h"
#include "reports/SmartVerdict.h"

namespace plovix::command {

enum class Command : std::uint8_t { List, Smart, SelfTest, Surface, Report, Log, EraseMbr, EraseDisk };
enum class Format : std::uint8_t { Text, Json, Prometheus };

// "list", "smart", "self-test", ... as the JSON documents name the command.
const char* CommandName(Command command);

struct Request {
  Command command = Command::List;
  std::vector<std::string> drives;  // list numbers or serials; "all" for every listed drive
  int kind = 1;                     // self-test 1 short, 2 extended; surface 1 short, 2 long
  bool wait = false;
  std::vector<std::string> confirm;  // serials the user typed for an erase
  Format format = Format::Text;
};

// A window the program showed while it worked: a message box or a dialog's texts.
struct Said {
  std::string caption;
  std::string text;  // its lines joined with "\n"
};

struct DriveResult {
  DriveRecord record;
  std::string status;  // the list's Status column after the command; "" when none ran
  bool read_error_failed = false;
  // --smart and --report: the drive's state as read now.
  SmartVerdict verdict = SmartVerdict::Unknown;
  bool smart_read = false;  // ATA attributes or the NVMe health log were read
  SmartAttributeTable table;
  SmartOtherAttributes others;
  NvmeHealth health;
  std::string report;                // --report as text
  std::time_t read_at = 0;           // when it was read: the report's date
  std::vector<LogRecord> log;        // --log, --report, --smart
};

struct RunResult {
  std::vector<std::string> notices;     // what the scan said (system disks, unreachable drives)
  std::vector<std::string> left_out;    // --list: "<name> (why)" for each disk not listed
  std::vector<std::string> not_found;   // "<drive>: why", for drives named but not listed
  std::vector<std::string> refusals;    // why nothing was done
  std::vector<Said> said;               // every window of the command, in order
  std::vector<DriveResult> drives;      // the drives named (--list: every listed drive)
  bool script_failed = false;           // a window came that the command cannot answer
  int exit = 0;                         // exit_bits
};

struct PlaySetup {
  DeviceIo* io = nullptr;
  DeviceCatalog* catalog = nullptr;
  bool real_time = true;
  std::time_t start_time = 0;
  std::ostream* progress = nullptr;  // --wait: a line a second
};

// Asks the command to stop as a user would: a progress dialog is closed at its next
// second (a surface scan or an erase aborts, a self-test is left running in the drive)
// and no further drive is erased. Safe from a signal handler. RunCommandLine clears it
// when it returns.
void Interrupt();
bool Interrupted();
void ClearInterrupt();

// Opens the program's main window on a face that plays the request and shows nothing.
RunResult Play(const Request& request, const PlaySetup& setup);

// The printed forms.
void PrintText(const Request& request, const RunResult& result, std::ostream& out);
void PrintJson(const Request& request, const RunResult& result, std::ostream& out);
void PrintPrometheus(const RunResult& result, std::ostream& out);

// "ata", "scsi", "usb" or "nvme".
const char* TransportName(const DriveRecord& record);

// One attribute as the SMART status dialog lists it, the catalogue's or another.
struct Attribute {
  std::uint8_t id, current, worst, threshold;
  std::uint64_t raw;
  std::string name;
  bool failing;
};
std::vector<Attribute> Attributes(const DriveResult& drive);

// The record's text fields without their padding.
std::string Field(const char* chars, std::size_t size);
template <std::size_t N>
std::string Field(const char (&chars)[N]) {
  return Field(chars, N);
}

}  // namespace plovix::command
