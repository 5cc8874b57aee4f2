// The frame exchange and the identification against a scripted port: exact
// request bytes, every way a reply can be wrong, and how the port is opened,
// kept and closed.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <tuple>

#include "link/identification.h"
#include "link/link.h"
#include "link/result_codes.h"
#include "tests/support/scripted_port.h"

namespace isp::test {
namespace {

using wire::Request;
constexpr Request kIdentify = Request::identify();
constexpr Request kDataRecord = Request::record(1);

class ExchangeTest : public ::testing::Test {
 protected:
  ExchangeTest() { platform.presentPorts = {3, 5}; }
  std::int32_t run(const Request& r, std::span<const std::uint8_t> payload = {}) {
    return link.exchange(PortTarget::com(port), 0, r, payload).code;
  }

  int port = 3;
  ScriptedPlatform platform;
  Link link{platform};
};

// A well-formed text reply to the identification.
Bytes textReply(const std::string& text) {
  Bytes frame(text.size() + wire::kOverhead);
  wire::build(frame, 0, 0x10, 0x00, 0x00, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  return frame;
}

TEST_F(ExchangeTest, RequestFramesAreExact) {
  run(kIdentify);
  Bytes payload(130);
  std::iota(payload.begin(), payload.end(), 0);
  run(kDataRecord, payload);
  Bytes record = {0x00, 0x00, 0x86, 0x00, 0x30, 0xD0, 0x01};
  for (int i = 0; i < 130; ++i) record.push_back(static_cast<std::uint8_t>(i));
  record.push_back(0x48);
  EXPECT_EQ(platform.writes, (std::vector<Bytes>{{0x00, 0x00, 0x04, 0x00, 0x10, 0x00, 0x00, 0x14}, record}));
}

// One after another on the same open port, as in a transfer: nothing of an
// earlier reply may leak into the result of a later one.
TEST_F(ExchangeTest, ResultOfEachKindOfReply) {
  const Bytes longest = textReply(std::string(251, 'x'));  // the largest body a length below 256 allows
  const std::tuple<const char*, Request, Bytes, std::int32_t> cases[] = {
      {"silence", kIdentify, {}, rc::kNoReply},
      {"zero_length_field", kIdentify, {0x00, 0x00, 0x00, 0x00}, rc::kNoReply},
      {"text_ISP", kIdentify, {0x00, 0x00, 0x07, 0x00, 0x10, 0x00, 0x00, 0x49, 0x53, 0x50, 0x03}, rc::kOk},
      {"kind_byte_not_compared",
       kIdentify,
       {0x00, 0x00, 0x07, 0x00, 0x55, 0x00, 0x00, 0x49, 0x53, 0x50, 0x48},
       rc::kOk},
      {"checksum_off_by_one",
       kIdentify,
       {0x00, 0x00, 0x07, 0x00, 0x10, 0x00, 0x00, 0x49, 0x53, 0x50, 0x04},
       rc::kBadReply},
      {"start_byte", kIdentify, {0x01, 0x00, 0x07, 0x00, 0x10, 0x00, 0x00, 0x49, 0x53, 0x50, 0x04}, rc::kBadReply},
      {"address_echo", kIdentify, {0x00, 0x01, 0x07, 0x00, 0x10, 0x00, 0x00, 0x49, 0x53, 0x50, 0x04}, rc::kBadReply},
      {"command2_echo", kIdentify, {0x00, 0x00, 0x07, 0x00, 0x10, 0x01, 0x00, 0x49, 0x53, 0x50, 0x04}, rc::kBadReply},
      {"flag_echo", kIdentify, {0x00, 0x00, 0x07, 0x00, 0x10, 0x00, 0x01, 0x49, 0x53, 0x50, 0x04}, rc::kBadReply},
      {"partial", kIdentify, {0x00, 0x00, 0x07, 0x00, 0x10, 0x00}, rc::kBadReply},
      {"error_code_4", kIdentify, {0x00, 0x00, 0x05, 0x00, 0x40, 0x00, 0x00, 0x04, 0x49}, 4},
      {"error_code_4_bad_checksum", kIdentify, {0x00, 0x00, 0x05, 0x00, 0x40, 0x00, 0x00, 0x04, 0x4A}, rc::kBadReply},
      // The echo is checked before the error code is believed.
      {"error_code_4_address_echo", kIdentify, {0x00, 0x01, 0x05, 0x00, 0x40, 0x00, 0x00, 0x04, 0x4A}, rc::kBadReply},
      {"error_code_4_flag_echo", kIdentify, {0x00, 0x00, 0x05, 0x00, 0x40, 0x00, 0x01, 0x04, 0x4A}, rc::kBadReply},
      // A refusal that names no reason is still a refusal, never success.
      {"error_code_0", kIdentify, {0x00, 0x00, 0x05, 0x00, 0x40, 0x00, 0x00, 0x00, 0x45}, rc::kBadReply},
      {"error_code_255_on_record", kDataRecord, {0x00, 0x00, 0x05, 0x00, 0x40, 0xD0, 0x01, 0xFF, 0x15}, 255},
      {"empty_text", kIdentify, {0x00, 0x00, 0x04, 0x00, 0x10, 0x00, 0x00, 0x14}, rc::kOk},
      {"record_ack", kDataRecord, {0x00, 0x00, 0x04, 0x00, 0x30, 0xD0, 0x01, 0x05}, rc::kOk},
      {"length_256", kIdentify, {0x00, 0x00, 0x00, 0x01, 0x10, 0x00, 0x00, 0x49}, rc::kBadReply},
      {"length_65535", kIdentify, {0x00, 0x00, 0xFF, 0xFF, 0x10, 0x00, 0x00, 0x49}, rc::kBadReply},
      {"longest_body", kIdentify, longest, rc::kOk},
      // The same header with the body cut short: the longer reply's tail
      // still in the buffer must not complete it.
      {"longest_cut_short", kIdentify, Bytes(longest.begin(), longest.begin() + 200), rc::kBadReply},
  };
  for (const auto& [name, request, reply, result] : cases) {
    SCOPED_TRACE(name);
    platform.queue(reply);
    EXPECT_EQ(run(request), result);
  }
  // A reply that came after its time-out, still waiting when the next request
  // goes out, is not taken for the answer to that one.
  platform.input.assign({0x00, 0x00, 0x05, 0x00, 0x40, 0x00, 0x00, 0x04, 0x49});
  platform.queue(textReply("ISP"));
  EXPECT_EQ(run(kIdentify), rc::kOk);
}

// When the port is opened, kept, closed and opened afresh, in the order the
// platform sees it. Nothing is written to a port that cannot be opened.
TEST_F(ExchangeTest, PortLifecycle) {
  port = 0;  // no port chosen, none open: nothing to write to
  EXPECT_EQ(run(kIdentify), rc::kPortNotOpen);
  port = 3;
  run(kIdentify);
  port = 5;
  run(kIdentify);  // another port: COM3 is closed first
  platform.disconnectOnRead = true;
  EXPECT_EQ(run(kIdentify), rc::kNoReply);
  EXPECT_FALSE(link.isOpen()) << "a dead port is closed";
  EXPECT_EQ(link.portStatus().why, "COM5 (scripted5): gone") << "the platform says why it is gone";
  platform.disconnectOnRead = false;
  run(kIdentify);  // and opened afresh
  EXPECT_EQ(platform.journal,
            (std::vector<std::string>{"open 3", "write 3: 00 00 04 00 10 00 00 14", "read 4", "close 3", "open 5",
                                      "write 5: 00 00 04 00 10 00 00 14", "read 4", "write 5: 00 00 04 00 10 00 00 14",
                                      "read 4", "close 5", "open 5", "write 5: 00 00 04 00 10 00 00 14", "read 4"}));

  for (int absent : {0, 9}) {
    port = absent;
    EXPECT_EQ(run(kIdentify), rc::kPortNotOpen);
  }
  EXPECT_EQ(link.portStatus().error, SerialError::NotFound);
  EXPECT_EQ(platform.writes.size(), 4u);
  EXPECT_FALSE(link.isOpen());
}

// Identification: which answers mean "in programming mode", and what the
// identity text and device name hold afterwards.
TEST_F(ExchangeTest, IdentificationResultAndStrings) {
  // The reply, then the result, the identity text and the device name.
  const std::tuple<const char*, Bytes, std::int32_t, std::string, std::string> cases[] = {
      {"name_after_separator", textReply("ISP-ABC"), rc::kOk, "ISP-ABC", "ABC"},
      {"lower_case_isp", textReply("isp ABC"), rc::kNotInProgrammingMode, "isp ABC", "ABC"},
      {"isp_alone", textReply("ISP"), rc::kOk, "ISP", ""},
      {"first_letter_wrong", textReply("XSP-ABC"), rc::kNotInProgrammingMode, "XSP-ABC", "ABC"},
      {"second_letter_wrong", textReply("IXP-ABC"), rc::kNotInProgrammingMode, "IXP-ABC", "ABC"},
      {"third_letter_wrong", textReply("ISX-ABC"), rc::kNotInProgrammingMode, "ISX-ABC", "ABC"},
      {"is_alone", textReply("IS"), rc::kNotInProgrammingMode, "IS", ""},
      {"zero_bytes_skipped", textReply(std::string("ISP\0XY", 6)), rc::kOk, "ISPXY", "XY"},
      // Unlike the reply text, control and high bytes are kept as they came.
      {"raw_bytes_kept", textReply("ISP\r\xC4\xC5\n"), rc::kOk, "ISP\r\xC4\xC5\n", "\xC4\xC5\n"},
      {"empty_text", textReply(""), rc::kNotInProgrammingMode, "", ""},
      {"silence", {}, rc::kNoReply, "", ""},
  };
  for (const auto& [name, reply, result, identity, device] : cases) {
    SCOPED_TRACE(name);
    platform.queue(reply);
    const Identity id = identify(link, PortTarget::com(5), 0);
    EXPECT_EQ(link.openPort(), PortTarget::com(5));
    EXPECT_EQ(std::tuple(id.code, id.text, id.name), std::tuple(result, identity, device));
  }
}

}  // namespace
}  // namespace isp::test
