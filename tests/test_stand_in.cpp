// The stand-in: the faults its device logic reports in what it receives,
// and what it may do to the path of its link.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sim/device.h"
#include "sim/simulator.h"
#include "tests/support/fixtures.h"
#include "tests/support/scripted_port.h"

namespace isp::test {
namespace {

using sim::Device;
using sim::DeviceOptions;

// A record frame with zero payload bytes, summed here by hand.
Bytes recordFrame(std::uint8_t flag) {
  Bytes f = {0x00, 0x00, 0x86, 0x00, 0x30, 0xD0, flag};
  f.resize(7 + 130);
  f.push_back(static_cast<std::uint8_t>(0x86 + 0x30 + 0xD0 + flag));
  return f;
}

TEST(Device, ReportsFaultsInWhatItReceives) {
  const struct {
    const char* name;
    Bytes frame;
    const char* reply;
  } cases[] = {
      {"checksum", {0x00, 0x00, 0x04, 0x00, 0x10, 0x00, 0x00, 0x15}, "00 00 05 00 40 00 00 02 47"},
      {"address", {0x00, 0x01, 0x04, 0x00, 0x10, 0x00, 0x00, 0x15}, "00 00 05 00 40 00 00 02 47"},
      {"unknown command", {0x00, 0x00, 0x04, 0x00, 0x11, 0x00, 0x00, 0x15}, "00 00 05 00 40 00 00 03 48"},
      {"identification flag", {0x00, 0x00, 0x04, 0x00, 0x10, 0x00, 0x01, 0x15}, "00 00 05 00 40 00 01 03 49"},
      {"record length", {0x00, 0x00, 0x05, 0x00, 0x30, 0xD0, 0x01, 0x00, 0x06}, "00 00 05 00 40 D0 01 02 18"},
      {"data before header", recordFrame(1), "00 00 05 00 40 D0 01 03 19"},
      {"flag 2", recordFrame(2), "00 00 05 00 40 D0 02 03 1A"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> reported;
    Device d(DeviceOptions{}, [&](const std::string& s) { reported.push_back(s); });
    EXPECT_EQ(hex(d.handle(c.frame).bytes), c.reply) << c.name;
    EXPECT_EQ(reported.size(), 1u) << c.name;
    EXPECT_TRUE(d.records().empty()) << c.name;
  }
}

// The stand-in's link may only ever replace a leftover link of its own:
// a file or a device node at that path belongs to someone else.
TEST(StandIn, LinkReplacesOnlyItsOwnLeftovers) {
  TempDir dir;
  namespace fs = std::filesystem;
  const fs::path file = dir.write("ttyACM0", {1, 2, 3});
  const fs::path toNull = dir.path() / "ttyNull", stale = dir.path() / "ttyStale", absent = dir.path() / "ttyNew";
  fs::create_symlink("/dev/null", toNull);
  fs::create_symlink("/dev/pts/999999", stale);
  struct Case {
    fs::path at;
    bool taken;
  };
  for (const auto& c : {Case{file, false}, Case{toNull, false}, Case{stale, true}, Case{absent, true}}) {
    sim::SimulatorOptions o;
    o.linkPath = c.at.string();
    {
      sim::Simulator device(o);
      std::string error;
      EXPECT_EQ(device.openPty(&error), c.taken) << c.at;
      if (c.taken) {
        EXPECT_EQ(fs::read_symlink(c.at).string(), device.path());
      } else {
        EXPECT_NE(error.find("refusing"), std::string::npos) << error;
      }
    }
    EXPECT_EQ(fs::exists(fs::symlink_status(c.at)), !c.taken) << c.at << ": only its own link is removed";
  }
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "\x01\x02\x03");
  EXPECT_EQ(fs::read_symlink(toNull), "/dev/null");
}

// Started through sudo, the stand-in gives its line to the user behind it.
TEST(StandIn, GivesItsLineToTheInvokingUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  sim::Simulator device({.ownerUid = 65534, .ownerGid = 65534});
  std::string error;
  ASSERT_TRUE(device.openPty(&error)) << error;
  struct stat st {};
  ASSERT_EQ(::stat(device.path().c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
}

}  // namespace
}  // namespace isp::test
