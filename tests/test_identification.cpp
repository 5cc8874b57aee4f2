// Identification: which answers mean "in programming mode", and what the
// identity text and device name hold afterwards.
#include <gtest/gtest.h>

#include "identification.h"
#include "result_codes.h"
#include "support/scripted_port.h"

namespace isp::test {
namespace {

struct IdentifyCase {
  const char* name;
  Bytes reply;
  std::int32_t result;
  std::string identity;
  std::string device;
};
void PrintTo(const IdentifyCase& c, std::ostream* os) { *os << c.name; }


class IdentifyTest : public ::testing::TestWithParam<IdentifyCase> {};

TEST_P(IdentifyTest, ResultAndStrings) {
  const IdentifyCase& c = GetParam();
  ScriptedPlatform platform;
  platform.presentPorts = {2};
  Link link(platform);
  link.rec.identityText = "untouched";
  link.rec.deviceName = "untouched";
  platform.queue(c.reply);

  EXPECT_EQ(identify(link, 2, 0), c.result);
  EXPECT_EQ(link.rec.selectedPort, 2);
  EXPECT_EQ(link.rec.identityText, c.identity);
  EXPECT_EQ(link.rec.deviceName, c.device);
  ASSERT_FALSE(platform.writes.empty());
  EXPECT_EQ(hex(platform.writes[0]), "00 00 04 00 10 00 00 14");
}

const IdentifyCase kCases[] = {
    {"name_after_separator",
     {0x00, 0x00, 0x0B, 0x00, 0x10, 0x00, 0x00, 0x49, 0x53, 0x50, 0x2D, 0x41, 0x42, 0x43, 0xFA},
     rc::kOk, "ISP-ABC", "ABC"},
    {"lower_case_isp",
     {0x00, 0x00, 0x0B, 0x00, 0x10, 0x00, 0x00, 0x69, 0x73, 0x70, 0x20, 0x41, 0x42, 0x43, 0x4D},
     rc::kNotInProgrammingMode, "isp ABC", "ABC"},
    {"isp_alone", {0x00, 0x00, 0x07, 0x00, 0x10, 0x00, 0x00, 0x49, 0x53, 0x50, 0x03}, rc::kOk, "ISP", ""},
    {"zero_bytes_skipped",
     {0x00, 0x00, 0x0A, 0x00, 0x10, 0x00, 0x00, 0x49, 0x53, 0x50, 0x00, 0x58, 0x59, 0xB7},
     rc::kOk, "ISPXY", "XY"},
    // Unlike the reply text, control and high bytes are kept as they came.
    {"raw_bytes_kept",
     {0x00, 0x00, 0x0B, 0x00, 0x10, 0x00, 0x00, 0x49, 0x53, 0x50, 0x0D, 0xC4, 0xC5, 0x0A, 0xA7},
     rc::kOk, "ISP\r\xC4\xC5\n", "\xC4\xC5\n"},
    {"empty_text", {0x00, 0x00, 0x04, 0x00, 0x10, 0x00, 0x00, 0x14}, rc::kNotInProgrammingMode, "", ""},
    {"device_not_ready", {0x00, 0x00, 0x05, 0x00, 0x40, 0x00, 0x00, 0x04, 0x49}, 4, "untouched", "untouched"},
    {"silence", {}, rc::kNoReply, "untouched", "untouched"},
};

INSTANTIATE_TEST_SUITE_P(Replies, IdentifyTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Identify, NoPort) {
  ScriptedPlatform platform;
  Link link(platform);
  EXPECT_EQ(identify(link, 0, 0), rc::kPortNotOpen);
  EXPECT_EQ(identify(link, 4, 0), rc::kPortNotOpen);  // not present
  EXPECT_TRUE(platform.writes.empty());
}

}  // namespace
}  // namespace isp::test
