// The command line on a bench: each command plays the program's own flows, and what it
// prints (text, JSON read back with the JSON library, Prometheus lines) and its exit
// bits follow the drives.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <sstream>

#include "tests/support/app_flow.h"
#include "faces/command/CommandLine.h"
#include "faces/command/Run.h"

namespace plovix {
namespace {

using app_test::Sata;
using Json = nlohmann::json;
namespace bits = command::exit_bits;

// A system disk, a healthy disk with packed raw values, a worn one whose short test fails
// and whose threshold is crossed, an NVMe namespace, and a disk without a self-test.
struct CommandBench {
  testing_support::TempWorkDir dir;
  sim::Bench bench;
  std::string out, err;

  CommandBench() {
    bench.SetClock([] { return ui::TickMs(); });
    bench.AddSata(0, Sata("Alder SYS", "SYS0", "1.0", 1u << 20));
    bench.SetSystemDrives({0});
    sim::DriveSpec healthy = Sata("Alder A1", "AL1", "1.0", 1u << 20);
    healthy.attributes = {{.id = 194, .raw = 0x350015002AULL}, {.id = 9, .raw = 1234},
                          {.id = 5, .threshold = 10}};
    bench.AddSata(1, healthy);
    sim::DriveSpec worn = Sata("Birch B2", "BR2", "2.0", 1u << 20);
    worn.attributes = {{.id = 5, .current = 5, .threshold = 10}};
    worn.short_test = {0x73, 20000};
    bench.AddSata(2, worn);
    sim::NvmeSpec nvme;
    nvme.model = "Cedar N3";
    nvme.serial = "NV3";
    nvme.firmware = "3.0";
    nvme.block_count = 1u << 17;
    nvme.health.temperature_kelvin = 311;
    bench.AddNvme(3, nvme);
    sim::DriveSpec plain = Sata("Dogwood D4", "DW4", "4.0", 1u << 20);
    plain.selftest_supported = false;
    plain.attributes = {{.id = 5, .current = 90, .threshold = 36}};
    bench.AddSata(4, plain);
  }

  // Ctrl-C as the first progress line is printed ("interrupt-at-progress" first), or
  // before the command ran ("interrupt").
  struct InterruptingBuffer : std::stringbuf {
    bool armed = false;
    std::streamsize xsputn(const char* s, std::streamsize n) override {
      if (armed && std::string_view(s, static_cast<std::size_t>(n)).find('%') != std::string_view::npos) {
        command::Interrupt();
      }
      return std::stringbuf::xsputn(s, n);
    }
  };
  int Run(std::vector<std::string> args) {
    InterruptingBuffer err_buffer;
    if (!args.empty() && args[0] == "interrupt") command::Interrupt();
    err_buffer.armed = !args.empty() && args[0] == "interrupt-at-progress";
    if (!args.empty() && args[0].starts_with("interrupt")) args.erase(args.begin());
    args.insert(args.begin(), "Plovix-demo");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream o;
    std::ostream e(&err_buffer);
    command::Setup setup;
    setup.io = &bench;
    setup.catalog = &bench;
    setup.real_time = false;
    setup.out = &o;
    setup.err = &e;
    const int rc = command::RunCommandLine(static_cast<int>(argv.size()), argv.data(), setup);
    out = o.str();
    err = err_buffer.str();
    return rc;
  }
  Json Doc() const { return Json::parse(out); }
  std::vector<std::string> Records() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
      if (entry.path().filename().string().find("-erase-") != std::string::npos) {
        names.push_back(entry.path().filename().string());
      }
    }
    return names;
  }
};

struct Case {
  const char* name;
  std::vector<std::string> args;
  int exit;
  std::function<void(CommandBench&)> check;
};

class CommandLine : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLine, PrintsAndExits) {
  CommandBench b;
  EXPECT_EQ(b.Run(GetParam().args), GetParam().exit) << b.out << b.err;
  if (GetParam().check) GetParam().check(b);
}

const Case kCases[] = {
    {"list_json", {"--list", "--json"}, 0,
     [](CommandBench& b) {
       const Json doc = b.Doc();
       EXPECT_EQ(doc["schema_version"], 1);
       ASSERT_EQ(doc["drives"].size(), 4u);
       EXPECT_EQ(doc["drives"][0]["serial"], "AL1");
       EXPECT_EQ(doc["drives"][2]["transport"], "nvme");
       EXPECT_EQ(doc["not_listed"], Json::array({"Drive 0 (holds the running system)"}));
     }},
    {"smart_decodes_raw", {"--smart", "AL1", "--json"}, 0,
     [](CommandBench& b) {
       const Json drive = b.Doc()["drives"][0];
       EXPECT_EQ(drive["verdict"], "Healthy");
       bool temperature = false;
       for (const auto& a : drive["attributes"]) {
         if (a["id"] == 194) temperature = a["raw_text"].get<std::string>().starts_with("42 (min 21, max 53)");
       }
       EXPECT_TRUE(temperature) << drive.dump();
     }},
    {"smart_without_self_test", {"--smart", "4", "--json"}, 0,
     [](CommandBench& b) { EXPECT_EQ(b.Doc()["drives"][0]["attributes"][0]["threshold"], 36) << b.out; }},
    {"smart_failing_verdict", {"--smart", "2"}, bits::kVerdictFailing,
     [](CommandBench& b) { EXPECT_NE(b.out.find("SMART verdict: Failing"), std::string::npos); }},
    {"smart_nvme_health", {"--smart", "3", "--json"}, 0,
     [](CommandBench& b) { EXPECT_EQ(b.Doc()["drives"][0]["nvme_health"]["temperature_celsius"], 38); }},
    {"prometheus", {"--smart", "all", "--prometheus"}, bits::kVerdictFailing,
     [](CommandBench& b) {
       EXPECT_NE(b.out.find("plovix_smart_verdict{number=\"2\",model=\"Birch B2\",serial=\"BR2\"} 2\n"),
                 std::string::npos) << b.out;
       EXPECT_NE(b.out.find("plovix_temperature_celsius{number=\"1\",model=\"Alder A1\",serial=\"AL1\"} 42\n"),
                 std::string::npos);
       EXPECT_NE(b.out.find("plovix_temperature_celsius{number=\"3\",model=\"Cedar N3\",serial=\"NV3\"} 38\n"),
                 std::string::npos);
       EXPECT_EQ(b.out.find("# TYPE plovix_smart_verdict"), b.out.rfind("# TYPE plovix_smart_verdict"));
     }},
    {"self_test_waits", {"--self-test", "short", "1", "--wait", "--json"}, 0,
     [](CommandBench& b) {
       EXPECT_EQ(b.Doc()["drives"][0]["status"], "Completed");
       EXPECT_NE(b.err.find("%"), std::string::npos) << "progress lines on standard error";
     }},
    {"self_test_fails", {"--self-test", "short", "2", "--wait"}, bits::kFailed,
     [](CommandBench& b) { EXPECT_NE(b.out.find("Drive 2 (BR2): Failure"), std::string::npos) << b.out; }},
    {"self_test_left_running", {"--self-test", "extended", "1"}, bits::kStillRunning,
     [](CommandBench& b) { EXPECT_NE(b.out.find("still running"), std::string::npos) << b.out; }},
    {"batch_erase", {"--erase-disk", "1", "3", "--confirm", "AL1", "--confirm", "NV3", "--json"}, 0,
     [](CommandBench& b) {
       const Json doc = b.Doc();
       EXPECT_EQ(doc["drives"][0]["status"], "Completed");
       EXPECT_EQ(doc["drives"][1]["status"], "Completed");
       EXPECT_TRUE(b.bench.Media(1).IsZeroed(0, 1u << 20));
       EXPECT_TRUE(b.bench.Media(3).IsZeroed(0, 1u << 17));
       EXPECT_EQ(b.Records().size(), 2u);
     }},
    {"interrupt_aborts_the_scan", {"interrupt-at-progress", "--surface", "long", "1", "--wait"}, bits::kFailed,
     [](CommandBench& b) { EXPECT_NE(b.out.find("Drive 1 (AL1): Aborted"), std::string::npos) << b.out; }},
    {"interrupt_stops_the_batch", {"interrupt", "--erase-disk", "1", "3", "--confirm", "AL1", "--confirm", "NV3"},
     bits::kFailed,
     [](CommandBench& b) {
       EXPECT_NE(b.err.find("Interrupted: drive 3 was not touched."), std::string::npos) << b.err;
       EXPECT_FALSE(b.bench.Media(1).IsZeroed(0, 1));
       EXPECT_FALSE(b.bench.Media(3).IsZeroed(0, 1));
     }},
    {"erase_wrong_serial", {"--erase-disk", "1", "3", "--confirm", "AL1", "--confirm", "NV-WRONG"},
     bits::kBadArguments,
     [](CommandBench& b) {
       EXPECT_FALSE(b.bench.Media(1).IsZeroed(0, 1));
       EXPECT_FALSE(b.bench.Media(3).IsZeroed(0, 1));
       EXPECT_NE(b.err.find("Drive 3 (Cedar N3) was not confirmed"), std::string::npos) << b.err;
     }},
    {"erase_system_disk", {"--erase-mbr", "0", "--confirm", "SYS0"}, bits::kDriveNotFound,
     [](CommandBench& b) {
       EXPECT_FALSE(b.bench.Media(0).IsZeroed(0, 1));
       EXPECT_NE(b.err.find("holds the running system"), std::string::npos) << b.err;
     }},
    {"report_after_a_test", {"--self-test", "short", "1", "--wait"}, 0,
     [](CommandBench& b) {
       ASSERT_EQ(b.Run({"--report", "1"}), 0);
       EXPECT_NE(b.out.find("SMART Status      : Healthy"), std::string::npos) << b.out;
       ASSERT_EQ(b.Run({"--report", "1", "--json"}), 0);
       const Json drive = b.Doc()["drives"][0];
       EXPECT_EQ(drive["verdict"], "Healthy");
       EXPECT_EQ(drive["log"].back(), (Json{{"tag", "SMART QT"}, {"status", "Done"}, {"result", "Pass"},
                                           {"time", drive["log"].back()["time"]}}));
     }},
    {"help_lists_commands", {"--help"}, 0,
     [](CommandBench& b) { EXPECT_NE(b.out.find("--erase-disk"), std::string::npos); }},
    {"man_page", {"--man-page"}, 0,
     [](CommandBench& b) { EXPECT_NE(b.out.find(".SH EXIT STATUS"), std::string::npos); }},
    {"missing_value", {"--smart"}, bits::kBadArguments, nullptr},
    {"unknown_kind", {"--self-test", "medium", "1"}, bits::kBadArguments, nullptr},
    {"prometheus_without_smart", {"--list", "--prometheus"}, bits::kBadArguments, nullptr},
    {"two_commands", {"--list", "--smart", "1"}, bits::kBadArguments, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Commands, CommandLine, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace plovix
