// The stand-in's device logic: its replies as exact bytes, the faults it
// reports in what it receives, and the faults it injects on request.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "device.h"
#include "support/scripted_port.h"

namespace isp::test {
namespace {

using sim::Device;
using sim::DeviceOptions;

const Bytes kIdentify = {0x00, 0x00, 0x04, 0x00, 0x10, 0x00, 0x00, 0x14};

// A record frame with every payload byte `fill`, summed here by hand.
Bytes recordFrame(std::uint8_t flag, std::uint8_t fill) {
  Bytes f(7 + 130 + 1, fill);
  const std::uint8_t header[] = {0x00, 0x00, 0x86, 0x00, 0x30, 0xD0, flag};
  std::copy(std::begin(header), std::end(header), f.begin());
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < f.size(); ++i) sum += f[i];
  f.back() = static_cast<std::uint8_t>(sum);
  return f;
}

TEST(Device, ReportsFaultsInWhatItReceives) {
  struct Case {
    const char* name;
    Bytes frame;
    const char* reply;
  };
  Bytes badSum = kIdentify;
  badSum.back() ^= 1;
  Bytes badAddress = {0x00, 0x01, 0x04, 0x00, 0x10, 0x00, 0x00, 0x15};
  Bytes unknown = {0x00, 0x00, 0x04, 0x00, 0x11, 0x00, 0x00, 0x15};
  Bytes identWithFlag = {0x00, 0x00, 0x04, 0x00, 0x10, 0x00, 0x01, 0x15};
  Bytes shortRecord = {0x00, 0x00, 0x05, 0x00, 0x30, 0xD0, 0x01, 0x00, 0x06};
  const Case cases[] = {
      {"checksum", badSum, "00 00 05 00 40 00 00 02 47"},
      {"address", badAddress, "00 00 05 00 40 00 00 02 47"},
      {"unknown command", unknown, "00 00 05 00 40 00 00 03 48"},
      {"identification flag", identWithFlag, "00 00 05 00 40 00 01 03 49"},
      {"record length", shortRecord, "00 00 05 00 40 D0 01 02 18"},
      {"data before header", recordFrame(1, 0), "00 00 05 00 40 D0 01 03 19"},
      {"flag 2", recordFrame(2, 0), "00 00 05 00 40 D0 02 03 1A"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> reported;
    Device d(DeviceOptions{}, [&](const std::string& s) { reported.push_back(s); });
    EXPECT_EQ(hex(d.handle(c.frame).bytes), c.reply) << c.name;
    EXPECT_EQ(reported.size(), 1u) << c.name;
    EXPECT_TRUE(d.records().empty()) << c.name;
  }
}

}  // namespace
}  // namespace isp::test
