// The stand-in: the faults its device logic reports in what it receives,
// what it may do to the path of its link, and the names it makes its
// image and link under before renaming them into place.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bitset>
#include <filesystem>
#include <regex>
#include <set>
#include <tuple>

#include "serial/posix/path_walk.h"
#include "sim/device.h"
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
  // The fault, the frame that has it, and the error reply it gets.
  const std::tuple<const char*, Bytes, const char*> cases[] = {
      {"checksum", {0x00, 0x00, 0x04, 0x00, 0x10, 0x00, 0x00, 0x15}, "00 00 05 00 40 00 00 02 47"},
      {"address", {0x00, 0x01, 0x04, 0x00, 0x10, 0x00, 0x00, 0x15}, "00 00 05 00 40 00 00 02 47"},
      {"unknown command", {0x00, 0x00, 0x04, 0x00, 0x11, 0x00, 0x00, 0x15}, "00 00 05 00 40 00 00 03 48"},
      {"identification flag", {0x00, 0x00, 0x04, 0x00, 0x10, 0x00, 0x01, 0x15}, "00 00 05 00 40 00 01 03 49"},
      {"record length", {0x00, 0x00, 0x05, 0x00, 0x30, 0xD0, 0x01, 0x00, 0x06}, "00 00 05 00 40 D0 01 02 18"},
      {"data before header", recordFrame(1), "00 00 05 00 40 D0 01 03 19"},
      {"flag 2", recordFrame(2), "00 00 05 00 40 D0 02 03 1A"},
  };
  for (const auto& [name, frame, reply] : cases) {
    std::vector<std::string> reported;
    Device d(DeviceOptions{}, [&](const std::string& s) { reported.push_back(s); });
    EXPECT_EQ(hex(d.handle(frame).bytes), reply) << name;
    EXPECT_TRUE(reported.size() == 1 && d.records().empty()) << name;
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
  // Where the link goes, and whether that path may be taken.
  const std::pair<fs::path, bool> cases[] = {{file, false}, {toNull, false}, {stale, true}, {absent, true}};
  for (const auto& [at, taken] : cases) {
    {
      sim::Simulator device({.linkPath = at.string()});
      std::string error;
      EXPECT_EQ(device.openPty(&error), taken) << at;
      if (taken) {
        EXPECT_EQ(fs::read_symlink(at).string(), device.path());
      } else {
        EXPECT_TRUE(holds(error, "refusing"));
      }
    }
    EXPECT_EQ(fs::exists(fs::symlink_status(at)), !taken) << at << ": only its own link is removed";
  }
  EXPECT_EQ(contents(file), "\x01\x02\x03");
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

// The image and the link are made beside their final names under names
// nobody can guess: 64 random bits each. Every one of the 64 bits takes
// both values across 64 names, which no name from a PID, a counter or a
// clock does.
TEST(StandIn, TemporaryNamesNobodyCanGuess) {
  TempDir dir;
  const UniqueFd folder(::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(folder);
  std::set<std::string> names;
  std::uint64_t ones = 0, zeros = 0;
  for (int i = 0; i < 64; ++i) {
    const WalkedPath made = createUnguessable(folder.get(), ".image.", 0644);
    ASSERT_TRUE(made.fd) << made.why;
    std::smatch bits;
    ASSERT_TRUE(std::regex_match(made.name, bits, std::regex(R"(\.image\.([0-9a-f]{16}))"))) << made.name;
    const std::uint64_t v = std::stoull(bits[1], nullptr, 16);
    ones |= v;
    zeros |= ~v;
    names.insert(made.name);
  }
  EXPECT_EQ(names.size(), 64u);
  EXPECT_EQ(ones & zeros, ~std::uint64_t{0}) << "bits that never change: " << std::bitset<64>(~(ones & zeros));
}

}  // namespace
}  // namespace isp::test
