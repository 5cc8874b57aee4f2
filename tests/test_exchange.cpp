// The frame exchange and the identification against a scripted port: exact
// request bytes, every way a reply can be wrong, and how the port is opened,
// kept and closed.
#include <gtest/gtest.h>

#include <cstring>

#include "identification.h"
#include "link.h"
#include "result_codes.h"
#include "support/scripted_port.h"

namespace isp::test {
namespace {

using wire::Request;
constexpr Request kIdentify = Request::identify();
constexpr Request kHeaderRecord = Request::record(0);
constexpr Request kDataRecord = Request::record(1);

class ExchangeTest : public ::testing::Test {
 protected:
  ExchangeTest() {
    platform.presentPorts = {3, 5};
    link.rec.selectedPort = 3;
  }
  std::int32_t run(const Request& r) { return link.exchange(0, r); }

  ScriptedPlatform platform;
  Link link{platform};
};

TEST_F(ExchangeTest, RequestFramesAreExact) {
  platform.queue({0x00, 0x00, 0x04, 0x00, 0x10, 0x00, 0x00, 0x14});
  run(kIdentify);
  ASSERT_EQ(platform.writes.size(), 1u);
  EXPECT_EQ(hex(platform.writes[0]), "00 00 04 00 10 00 00 14");
  EXPECT_EQ(link.rec.requestLength, 8);

  for (int i = 0; i < 130; ++i) link.rec.payload[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  run(kDataRecord);
  ASSERT_EQ(platform.writes.size(), 2u);
  const Bytes& f = platform.writes[1];
  ASSERT_EQ(f.size(), 138u);
  EXPECT_EQ(hex(Bytes(f.begin(), f.begin() + 7)), "00 00 86 00 30 D0 01");
  for (int i = 0; i < 130; ++i) EXPECT_EQ(f[static_cast<std::size_t>(7 + i)], i);
  EXPECT_EQ(f[137], 0x48);
}

struct ReplyCase {
  const char* name;
  Request request;
  Bytes reply;
  std::int32_t result;
  int textValid;
  int valueValid;
};
void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }


class ReplyTest : public ExchangeTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyTest, ResultAndReplyResults) {
  const ReplyCase& c = GetParam();
  // Results of an earlier exchange must never survive into this one.
  link.rec.textValid = link.rec.valueValid = 1;
  platform.queue(c.reply);
  EXPECT_EQ(run(c.request), c.result);
  EXPECT_EQ(link.rec.textValid, c.textValid);
  EXPECT_EQ(link.rec.valueValid, c.valueValid);
}

const ReplyCase kReplies[] = {
    {"silence", kIdentify, {}, rc::kNoReply, 0, 0},
    {"zero_length_field", kIdentify, {0x00, 0x00, 0x00, 0x00}, rc::kNoReply, 0, 0},
    {"text_ISP", kIdentify, {0x00, 0x00, 0x07, 0x00, 0x10, 0x00, 0x00, 0x49, 0x53, 0x50, 0x03}, rc::kOk, 1, 0},
    {"kind_byte_not_compared", kIdentify, {0x00, 0x00, 0x07, 0x00, 0x55, 0x00, 0x00, 0x49, 0x53, 0x50, 0x48}, rc::kOk, 1, 0},
    {"checksum_off_by_one", kIdentify, {0x00, 0x00, 0x07, 0x00, 0x10, 0x00, 0x00, 0x49, 0x53, 0x50, 0x04}, rc::kBadReply, 0, 0},
    {"start_byte", kIdentify, {0x01, 0x00, 0x07, 0x00, 0x10, 0x00, 0x00, 0x49, 0x53, 0x50, 0x04}, rc::kBadReply, 0, 0},
    {"address_echo", kIdentify, {0x00, 0x01, 0x07, 0x00, 0x10, 0x00, 0x00, 0x49, 0x53, 0x50, 0x04}, rc::kBadReply, 0, 0},
    {"command2_echo", kIdentify, {0x00, 0x00, 0x07, 0x00, 0x10, 0x01, 0x00, 0x49, 0x53, 0x50, 0x04}, rc::kBadReply, 0, 0},
    {"flag_echo", kIdentify, {0x00, 0x00, 0x07, 0x00, 0x10, 0x00, 0x01, 0x49, 0x53, 0x50, 0x04}, rc::kBadReply, 0, 0},
    {"partial", kIdentify, {0x00, 0x00, 0x07, 0x00, 0x10, 0x00}, rc::kBadReply, 0, 0},
    {"error_code_4", kIdentify, {0x00, 0x00, 0x05, 0x00, 0x40, 0x00, 0x00, 0x04, 0x49}, 4, 0, 0},
    {"error_code_4_bad_checksum", kIdentify, {0x00, 0x00, 0x05, 0x00, 0x40, 0x00, 0x00, 0x04, 0x4A}, rc::kBadReply, 0, 0},
    // A refusal that names no reason is still a refusal, never success.
    {"error_code_0", kIdentify, {0x00, 0x00, 0x05, 0x00, 0x40, 0x00, 0x00, 0x00, 0x45}, rc::kBadReply, 0, 0},
    {"error_code_255_on_record", kDataRecord, {0x00, 0x00, 0x05, 0x00, 0x40, 0xD0, 0x01, 0xFF, 0x15}, 255, 0, 0},
    {"empty_text", kIdentify, {0x00, 0x00, 0x04, 0x00, 0x10, 0x00, 0x00, 0x14}, rc::kOk, 1, 0},
    {"numeric_1_0", kDataRecord, {0x00, 0x00, 0x09, 0x00, 0x30, 0xD0, 0x01, 0x00, 0x00, 0x80, 0x3F, 0x00, 0xC9}, rc::kOk, 0, 1},
    {"numeric_needs_n_9", kDataRecord, {0x00, 0x00, 0x0A, 0x00, 0x30, 0xD0, 0x01, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0xCA}, rc::kOk, 0, 0},
    {"header_record_no_value", kHeaderRecord, {0x00, 0x00, 0x09, 0x00, 0x30, 0xD0, 0x00, 0x00, 0x00, 0x80, 0x3F, 0x00, 0xC8}, rc::kOk, 0, 0},
    {"record_ack", kDataRecord, {0x00, 0x00, 0x04, 0x00, 0x30, 0xD0, 0x01, 0x05}, rc::kOk, 0, 0},
    {"length_256", kIdentify, {0x00, 0x00, 0x00, 0x01, 0x10, 0x00, 0x00, 0x49}, rc::kBadReply, 0, 0},
    {"length_65535", kIdentify, {0x00, 0x00, 0xFF, 0xFF, 0x10, 0x00, 0x00, 0x49}, rc::kBadReply, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Replies, ReplyTest, ::testing::ValuesIn(kReplies),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExchangeTest, ReplyResultsHoldTheReply) {
  platform.queue({0x00, 0x00, 0x09, 0x00, 0x30, 0xD0, 0x01, 0x00, 0x00, 0x80, 0x3F, 0x00, 0xC9});
  ASSERT_EQ(run(kDataRecord), rc::kOk);
  EXPECT_EQ(link.rec.replyValue, 1.0);
  EXPECT_EQ(link.rec.replyLength, 13);

  // Control bytes become spaces; the text holds only this reply's bytes.
  platform.queue({0x00, 0x00, 0x09, 0x00, 0x10, 0x00, 0x00, 0x41, 0x0D, 0x0A, 0x09, 0x42, 0xBC});
  ASSERT_EQ(run(kIdentify), rc::kOk);
  EXPECT_STREQ(link.rec.replyText.data(), "A   B");
  platform.queue({0x00, 0x00, 0x04, 0x00, 0x10, 0x00, 0x00, 0x14});
  ASSERT_EQ(run(kIdentify), rc::kOk);
  EXPECT_STREQ(link.rec.replyText.data(), "");

  platform.queue({});
  EXPECT_EQ(run(kIdentify), rc::kNoReply);
  EXPECT_EQ(link.rec.replyLength, 0);
}

TEST_F(ExchangeTest, OversizedLengthIsNotRead) {
  platform.queue({0x00, 0x00, 0x2C, 0x01, 0x10, 0x00, 0x00});
  EXPECT_EQ(run(kIdentify), rc::kBadReply);
  EXPECT_EQ(platform.journal.back(), "read 4");
  EXPECT_EQ(platform.input.size(), 3u);  // the body stays unread
}

TEST_F(ExchangeTest, LargestBodyIsRead) {
  Bytes reply = {0x00, 0x00, 0xFF, 0x00, 0x10, 0x00, 0x00};
  reply.resize(4 + 255 - 1, 'x');
  unsigned sum = 0;
  for (auto b : reply) sum += b;
  reply.push_back(static_cast<std::uint8_t>(sum));
  platform.queue(reply);
  EXPECT_EQ(run(kIdentify), rc::kOk);
  EXPECT_EQ(link.rec.replyLength, 259);
  EXPECT_EQ(std::strlen(link.rec.replyText.data()), 251u);
}

TEST_F(ExchangeTest, ShortReplyNeverMeetsAnEarlierOne) {
  Bytes full = {0x00, 0x00, 0xFF, 0x00, 0x10, 0x00, 0x00};
  full.resize(4 + 255 - 1, 0);
  full.push_back(0x0F);  // checksum of the header and command bytes
  platform.queue(full);
  ASSERT_EQ(run(kIdentify), rc::kOk);
  // Same header, body cut short: the old tail must not make it valid.
  platform.queue(Bytes(full.begin(), full.begin() + 200));
  EXPECT_EQ(run(kIdentify), rc::kBadReply);
}

// When the port is opened, kept, closed and opened afresh, in the order the
// platform sees it. Nothing is written to a port that cannot be opened.
TEST_F(ExchangeTest, PortLifecycle) {
  EXPECT_EQ(link.closePort(), rc::kOk);  // nothing open: nothing happens
  EXPECT_EQ(link.openPort(), rc::kOk);
  EXPECT_EQ(link.openPort(), rc::kOk);  // already open: not reopened
  link.rec.selectedPort = 5;
  EXPECT_EQ(link.openPort(), rc::kOtherPortOpen);
  link.rec.selectedPort = 3;
  run(kIdentify);
  link.rec.selectedPort = 5;
  run(kIdentify);  // the selection changed: COM3 is closed first
  platform.disconnectOnRead = true;
  EXPECT_EQ(run(kIdentify), rc::kNoReply);
  EXPECT_EQ(link.rec.openPort, 0) << "a dead port is closed";
  platform.disconnectOnRead = false;
  run(kIdentify);  // and opened afresh
  const std::vector<std::string> expected = {
      "open 3", "write 3: 00 00 04 00 10 00 00 14", "read 4", "close 3",
      "open 5", "write 5: 00 00 04 00 10 00 00 14", "read 4",
      "write 5: 00 00 04 00 10 00 00 14", "read 4", "close 5",
      "open 5", "write 5: 00 00 04 00 10 00 00 14", "read 4"};
  EXPECT_EQ(platform.journal, expected);

  link.rec.selectedPort = 0;
  EXPECT_EQ(run(kIdentify), rc::kPortNotOpen);
  link.rec.selectedPort = 9;  // not present
  EXPECT_EQ(run(kIdentify), rc::kPortNotOpen);
  EXPECT_EQ(link.lastOpenStatus().error, SerialError::NotFound);
  platform.openErrors[7] = SerialError::Busy;
  platform.presentPorts.insert(7);
  link.rec.selectedPort = 7;
  EXPECT_EQ(run(kIdentify), rc::kPortNotOpen);
  EXPECT_EQ(link.lastOpenStatus().error, SerialError::Busy);
  EXPECT_EQ(platform.writes.size(), 4u);
  EXPECT_EQ(link.rec.openPort, 0);
}

TEST(Probe, FillsThePortTable) {
  ScriptedPlatform platform;
  Link link(platform);
  platform.presentPorts = {3, 7};
  EXPECT_EQ(link.probe(), 2);
  EXPECT_EQ(link.rec.portCount, 2);
  for (int n = 1; n <= kPortSlots; ++n)
    EXPECT_EQ(link.rec.portTable[static_cast<std::size_t>(n - 1)], n == 3 ? 1 : n == 7 ? 2 : 0) << "COM" << n;
  EXPECT_TRUE(platform.journal.empty()) << "probing opens nothing through the link";

  EXPECT_EQ(link.probe(12), 0);
  platform.presentPorts.insert(12);
  EXPECT_EQ(link.probe(12), 1);
  EXPECT_EQ(link.rec.portSlot(12), 1);
  EXPECT_EQ(link.rec.portCount, 2);  // a single-port probe leaves the count

  platform.presentPorts.clear();
  EXPECT_EQ(link.probe(), 0);
  EXPECT_EQ(link.rec.portCount, 0);
  for (auto slot : link.rec.portTable) EXPECT_EQ(slot, 0);
}

// Identification: which answers mean "in programming mode", and what the
// identity text and device name hold afterwards.
struct IdentifyCase {
  const char* name;
  Bytes reply;
  std::int32_t result;
  std::string identity, device;
};
void PrintTo(const IdentifyCase& c, std::ostream* os) { *os << c.name; }

// A well-formed text reply to the identification.
Bytes textReply(const std::string& text) {
  Bytes frame(text.size() + wire::kOverhead);
  wire::build(frame, 0, 0x10, 0x00, 0x00, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  return frame;
}

class IdentifyTest : public ExchangeTest, public ::testing::WithParamInterface<IdentifyCase> {};

TEST_P(IdentifyTest, ResultAndStrings) {
  const IdentifyCase& c = GetParam();
  link.rec.identityText = link.rec.deviceName = "untouched";
  platform.queue(c.reply);
  EXPECT_EQ(identify(link, 5, 0), c.result);
  EXPECT_EQ(link.rec.selectedPort, 5);
  EXPECT_EQ(link.rec.identityText, c.identity);
  EXPECT_EQ(link.rec.deviceName, c.device);
}

const IdentifyCase kIdentifyCases[] = {
    {"name_after_separator", textReply("ISP-ABC"), rc::kOk, "ISP-ABC", "ABC"},
    {"lower_case_isp", textReply("isp ABC"), rc::kNotInProgrammingMode, "isp ABC", "ABC"},
    {"isp_alone", textReply("ISP"), rc::kOk, "ISP", ""},
    {"zero_bytes_skipped", textReply(std::string("ISP\0XY", 6)), rc::kOk, "ISPXY", "XY"},
    // Unlike the reply text, control and high bytes are kept as they came.
    {"raw_bytes_kept", textReply("ISP\r\xC4\xC5\n"), rc::kOk, "ISP\r\xC4\xC5\n", "\xC4\xC5\n"},
    {"empty_text", textReply(""), rc::kNotInProgrammingMode, "", ""},
    {"device_not_ready", {0x00, 0x00, 0x05, 0x00, 0x40, 0x00, 0x00, 0x04, 0x49}, 4, "untouched", "untouched"},
    {"silence", {}, rc::kNoReply, "untouched", "untouched"},
};

INSTANTIATE_TEST_SUITE_P(Replies, IdentifyTest, ::testing::ValuesIn(kIdentifyCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace isp::test
