#include "faces/command/CommandLine.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <iostream>
#include <sstream>

#include "faces/command/Run.h"

#ifndef PLOVIX_VERSION
#define PLOVIX_VERSION "0.92"
#endif

namespace plovix::command {

namespace {

constexpr const char* kCommandsGroup = "Commands";
constexpr const char* kOptionsGroup = "Options";

constexpr const char* kExitText =
    "Exit status, a sum of: 1 bad arguments or a --confirm that does not match; "
    "2 a drive named is not listed or cannot be reached; 4 a drive's SMART verdict is "
    "Failing; 8 a test or an erase failed, was refused or aborted; 16 a self-test still "
    "runs in the drive. 0 when everything asked for was done and passed.";

constexpr const char* kDrivesText =
    "DRIVE is the number the drive list shows or the drive's serial; \"all\" takes every "
    "listed drive where several are allowed.";

// The option table: --help, the man page and the parser all read it.
struct Table {
  CLI::App app;
  bool list = false;
  std::vector<std::string> smart, self_test, surface, report, log, erase_mbr, erase_disk;
  std::vector<std::string> confirm;
  bool wait = false, json = false, prometheus = false, version = false, man_page = false;

  explicit Table(const std::string& program)
      : app("Plovix hard-disk diagnostic: with a command it prints and exits; without one "
            "the program's windows open.",
            program) {
    app.footer(std::string(kDrivesText) + "\n\n" + kExitText);
    // Made again after the commands, so that --help lists the commands first.
    app.set_help_flag();
    app.add_flag("--list", list, "The drive table, with what the scan says of the drives it leaves out.")
        ->group(kCommandsGroup);
    app.add_option("--smart", smart, "Identity, SMART attributes (an NVMe drive's health log) and verdict.")
        ->type_name("DRIVE")->expected(1, CLI::detail::expected_max_vector_size)->group(kCommandsGroup);
    app.add_option("--self-test", self_test,
                   "short|extended DRIVE...: the read-error check and the drive's self-test; "
                   "without --wait the test is left running in the drive.")
        ->type_name("KIND DRIVE")->expected(2, CLI::detail::expected_max_vector_size)->group(kCommandsGroup);
    app.add_option("--surface", surface,
                   "short|long DRIVE...: the read-error check and the surface scan, to its end.")
        ->type_name("KIND DRIVE")->expected(2, CLI::detail::expected_max_vector_size)->group(kCommandsGroup);
    app.add_option("--report", report, "The test log report, as Log View shows it.")
        ->type_name("DRIVE")->expected(1, CLI::detail::expected_max_vector_size)->group(kCommandsGroup);
    app.add_option("--log", log, "The records of the drive's log.")
        ->type_name("DRIVE")->expected(1, CLI::detail::expected_max_vector_size)->group(kCommandsGroup);
    app.add_option("--erase-mbr", erase_mbr, "Zeroes the first block. Needs --confirm with each drive's serial.")
        ->type_name("DRIVE")->expected(1, CLI::detail::expected_max_vector_size)->group(kCommandsGroup);
    app.add_option("--erase-disk", erase_disk,
                   "Zeroes the whole disk, reads it back and writes an erase record. Needs "
                   "--confirm with each drive's serial.")
        ->type_name("DRIVE")->expected(1, CLI::detail::expected_max_vector_size)->group(kCommandsGroup);
    app.add_option("--confirm", confirm, "The exact serial of a drive to be erased; once per drive.")
        ->type_name("SERIAL")->group(kOptionsGroup);
    app.add_flag("--wait", wait, "Waits for the self-test to end; a line of progress a second on standard error.")
        ->group(kOptionsGroup);
    app.add_flag("--json", json, "One JSON document instead of text.")->group(kOptionsGroup);
    app.add_flag("--prometheus", prometheus,
                 "With --smart: metrics in the Prometheus text format, for node_exporter's textfile collector.")
        ->group(kOptionsGroup);
    app.add_flag("--version", version, "The program's version.")->group(kOptionsGroup);
    app.add_flag("--man-page", man_page, "This text as a manual page (roff).")->group(kOptionsGroup);
    app.set_help_flag("-h,--help", "This list of commands and options.")->group(kOptionsGroup);
  }

  // The one command given, or an error text.
  std::string Build(Request& request) const {
    int commands = 0;
    auto take = [&](bool given, Command command) {
      if (!given) return;
      ++commands;
      request.command = command;
    };
    take(list, Command::List);
    take(!smart.empty(), Command::Smart);
    take(!self_test.empty(), Command::SelfTest);
    take(!surface.empty(), Command::Surface);
    take(!report.empty(), Command::Report);
    take(!log.empty(), Command::Log);
    take(!erase_mbr.empty(), Command::EraseMbr);
    take(!erase_disk.empty(), Command::EraseDisk);
    if (commands != 1) return commands == 0 ? "no command given" : "give one command at a time";
    const std::vector<std::string>* drives = nullptr;
    switch (request.command) {
      case Command::List: break;
      case Command::Smart: drives = &smart; break;
      case Command::Report: drives = &report; break;
      case Command::Log: drives = &log; break;
      case Command::EraseMbr: drives = &erase_mbr; break;
      case Command::EraseDisk: drives = &erase_disk; break;
      case Command::SelfTest:
      case Command::Surface: {
        const auto& values = request.command == Command::SelfTest ? self_test : surface;
        const std::string& kind = values.front();
        const char* longer = request.command == Command::SelfTest ? "extended" : "long";
        if (kind != "short" && kind != longer) return "the kind is short or " + std::string(longer) + ", not " + kind;
        request.kind = kind == "short" ? 1 : 2;
        request.drives.assign(values.begin() + 1, values.end());
        break;
      }
    }
    if (drives != nullptr) request.drives = *drives;
    const bool erase = request.command == Command::EraseMbr || request.command == Command::EraseDisk;
    for (const std::string& drive : request.drives) {
      if (drive == "all" && (erase || request.drives.size() != 1)) return "\"all\" cannot be erased or mixed with drives";
    }
    if (!confirm.empty() && !erase) return "--confirm belongs to --erase-mbr and --erase-disk";
    if (prometheus && request.command != Command::Smart) return "--prometheus goes with --smart";
    if (prometheus && json) return "give --json or --prometheus, not both";
    request.confirm = confirm;
    request.wait = wait;
    request.format = json ? Format::Json : prometheus ? Format::Prometheus : Format::Text;
    return {};
  }
};

std::string RoffEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  // A line that starts with a dot or quote would read as a request.
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

extern "C" void OnInterrupt(int signal_number) {
  Interrupt();
  std::signal(signal_number, SIG_DFL);
}

}  // namespace

bool HasCommand(int argc, const char* const* argv) { return argc > 1 && argv[1] != nullptr; }

std::string ManPage(const std::string& program) {
  Table table(program);
  std::ostringstream page;
  page << ".TH " << program << " 1 \"\" \"" << program << " " << PLOVIX_VERSION << "\" \"User Commands\"\n";
  page << ".SH NAME\n" << program << " \\- hard\\-disk diagnostic\n";
  page << ".SH SYNOPSIS\n.B " << program << "\n.br\n.B " << program
       << "\n.I command\n[\\fIoptions\\fR]\n";
  page << ".SH DESCRIPTION\n" << RoffEscape(table.app.get_description()) << "\n.PP\n"
       << RoffEscape(kDrivesText) << "\n";
  for (const char* group : {kCommandsGroup, kOptionsGroup}) {
    page << ".SH " << (group == kCommandsGroup ? "COMMANDS" : "OPTIONS") << "\n";
    for (const CLI::Option* opt : table.app.get_options()) {
      if (opt->get_group() != group) continue;
      page << ".TP\n.B " << RoffEscape(opt->get_name(false, true));
      if (opt->get_type_size() != 0 && !opt->get_type_name().empty()) {
        page << " \" " << RoffEscape(opt->get_type_name()) << "\"";
      }
      page << "\n" << RoffEscape(opt->get_description()) << "\n";
    }
  }
  page << ".SH EXIT STATUS\n" << RoffEscape(kExitText) << "\n";
  page << ".SH FILES\nEach drive's log, \\fISERIAL\\fR.log, and its erase records, "
          "\\fISERIAL\\fR\\-erase\\-*.txt, in the current directory.\n";
  return page.str();
}

int RunCommandLine(int argc, const char* const* argv, const Setup& setup) {
  std::ostream& out = setup.out != nullptr ? *setup.out : std::cout;
  std::ostream& err = setup.err != nullptr ? *setup.err : std::cerr;
  const std::string program = argc > 0 && argv[0] != nullptr ? argv[0] : "Plovix";
  Table table(program.substr(program.find_last_of("/\\") + 1));
  try {
    table.app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << table.app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    err << table.app.get_name() << ": " << e.what() << "\n" << "Run with --help for the options.\n";
    return exit_bits::kBadArguments;
  }
  if (table.version) {
    out << table.app.get_name() << " " << PLOVIX_VERSION << "\n";
    return 0;
  }
  if (table.man_page) {
    out << ManPage(table.app.get_name());
    return 0;
  }
  Request request;
  if (const std::string why = table.Build(request); !why.empty()) {
    err << table.app.get_name() << ": " << why << "\nRun with --help for the options.\n";
    return exit_bits::kBadArguments;
  }
  if (!setup.refusal.empty()) {
    err << setup.refusal << "\n";
    return exit_bits::kDriveNotFound;
  }
  PlaySetup play;
  play.io = setup.io;
  play.catalog = setup.catalog;
  play.real_time = setup.real_time;
  play.start_time = setup.start_time;
  play.progress = &err;
  // Ctrl-C stops the command as the dialogs' Escape would, so an erase or a scan ends
  // with its log, its record and the system told; a second one ends the program.
  const auto previous_int = std::signal(SIGINT, OnInterrupt);
  const auto previous_term = std::signal(SIGTERM, OnInterrupt);
  const RunResult result = Play(request, play);
  std::signal(SIGINT, previous_int);
  std::signal(SIGTERM, previous_term);
  ClearInterrupt();
  switch (request.format) {
    case Format::Json:
      PrintJson(request, result, out);
      break;
    case Format::Prometheus:
      PrintPrometheus(result, out);
      break;
    case Format::Text:
      // What the scan said goes beside the errors, so that the output proper can be piped.
      for (const auto& notice : result.notices) err << notice << "\n";
      PrintText(request, result, out);
      break;
  }
  for (const auto& why : result.not_found) err << why << "\n";
  for (const auto& why : result.refusals) err << why << "\n";
  return result.exit;
}

}  // namespace plovix::command
