// The trace of the wire: a whole transfer as isp-flash traced it against the
// frames the stand-in took and answered; a late, a damaged and a short reply
// each said so; a trace that cannot be written never costs the transfer.
#include <gtest/gtest.h>

#include <mutex>
#include <regex>

#include "link/trace.h"
#include "tests/support/child_process.h"
#include "tests/support/fixtures.h"

namespace isp::test {
namespace {

// The hex of each line's frame whose event starts so, in order: "request",
// "reply after ..." (isp-flash's) or "reply " (the stand-in's).
std::vector<std::string> frames(const std::string& trace, const std::string& event) {
  std::vector<std::string> out;
  const std::regex line(" " + event + "((?: ?[0-9A-F]{2})+) \\(\\d+ bytes\\)");
  for (std::sregex_iterator i(trace.begin(), trace.end(), line), end; i != end; ++i) out.push_back((*i)[1]);
  return out;
}

TEST(Trace, AWholeTransferFrameForFrame) {
  TempDir dir;
  std::mutex mu;
  std::string standIn;
  Trace simTrace([&](std::string_view line) {
    std::lock_guard lock(mu);
    standIn += line;
    return true;
  });
  auto sim = startSimulator({.trace = &simTrace});
  const std::string fw = dir.write("fw.isp", sampleImage()), trace = (dir.path() / "t.trace").string();
  const Finished f =
      runProgram({ISP_FLASH_PATH, "--port", sim->path(), "--file", fw, "--interval", "0", "--trace", trace});
  ASSERT_EQ(f.status, 0) << f.err;
  sim->stop();
  const std::string ours = contents(trace);
  // Every request once, in order, each with its reply: 1 identification and 513 records.
  const auto requests = frames(ours, "request "), replies = frames(ours, "reply after [0-9.]+ ms: ");
  EXPECT_EQ(requests.size(), 514u);
  EXPECT_EQ(requests, frames(standIn, "request "));
  EXPECT_EQ(replies, frames(standIn, "reply "));
  EXPECT_TRUE(std::regex_search(ours, std::regex("^ +[0-9]+\\.[0-9]{3} " + sim->path() + " opened " + sim->path() +
                                                 ": 19200 8N1, raw, no flow control")))
      << ours.substr(0, 300);
  EXPECT_TRUE(holds(ours, "checksum 14 right\n"));  // the identification request
  EXPECT_TRUE(holds(ours.substr(ours.rfind('\n', ours.size() - 2)), " closed\n"));
}

// Each fault of the device as the trace says it; the log's lines are the
// dialog's all the same.
TEST(Trace, EachFaultSaidAsItCame) {
  TempDir dir;
  const std::string fw = dir.write("fw.isp", sampleImage());
  const struct {
    sim::DeviceOptions device;
    std::string says;
  } cases[] = {
      {{.delayAt = 1, .delay = std::chrono::milliseconds(400)}, "no reply in "},
      {{.badChecksumAt = 1}, "wrong: the bytes before it sum to "},
      {{.partialAt = 1}, "short reply: "},
      {{.oversizeAt = 1}, "reply of length 300, more than a reply holds; its body was not read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    auto sim = startSimulator({.device = c.device});
    const std::string trace = (dir.path() / "t.trace").string();
    std::filesystem::remove(trace);
    const Finished f =
        runProgram({ISP_FLASH_PATH, "--port", sim->path(), "--file", fw, "--interval", "0", "--trace", trace});
    EXPECT_TRUE(holds(contents(trace), c.says)) << contents(trace).substr(0, 2000);
    EXPECT_FALSE(holds(f.out, "request")) << "the log's lines are the log's";
  }
}

// A trace the disk cannot take: said once, and the device is programmed.
TEST(Trace, ATraceThatCannotBeWrittenCostsNothing) {
  TempDir dir;
  auto sim = startSimulator();
  const std::string fw = dir.write("fw.isp", sampleImage()), trace = (dir.path() / "t.trace").string();
  const Finished f = runProgram({"/usr/bin/prlimit", "--fsize=3000", ISP_FLASH_PATH, "--port", sim->path(), "--file",
                                 fw, "--interval", "0", "--trace", trace});
  EXPECT_EQ(f.status, 0) << f.err;
  EXPECT_EQ(sim->image(), sampleImage());
  const std::string said = "the trace " + trace + ": a trace line could not be written";
  EXPECT_TRUE(holds(f.err, said)) << f.err;
  EXPECT_EQ(f.err.find(said), f.err.rfind(said)) << "said once";
  // Lines written whole: the file ends with a line's end.
  const std::string kept = contents(trace);
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept.back(), '\n');
}

}  // namespace
}  // namespace isp::test
