// The line file an engineer writes and operators run: what it gives, and
// each way it can be wrong, refused with the key at fault.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "production/line_file.h"
#include "production/os.h"
#include "tests/support/child_process.h"
#include "tests/support/fixtures.h"

namespace isp::test {
namespace {

TEST(LineFile, WhatItGivesAndEachWayItIsWrong) {
  TempDir dir;
  const std::string sum(64, 'a');
  const std::string good = R"("name": "Линия 3", "firmware": "fw.isp", "sha256": ")" + sum +
                           R"(", "ports": ["COM5", "6", "/dev/ttyUSB0"], "report": "/srv/line3.jsonl")";
  const struct {
    std::string text, said;  // the file, and a part of why it is refused; empty: taken
  } cases[] = {
      {"{" + good + "}", ""},
      {"{" + good + R"(, "interval_ms": 60000})", ""},
      {R"({"name": "L", "firmware": "/fw", "sha256": ")" + sum + R"(", "ports": ["all"], "report": "r"})", ""},
      {"{" + good + ", \"sha256\": \"" + std::string(64, 'b') + "\"}", "\"sha256\" is given twice"},
      {"{" + good + ", \"Name\": 1}", "unknown key \"Name\""},
      {"{" + good + ", \"x\\u001b[2J\": 1}", "unknown key \"x\\x1b[2J\""},
      {R"({"name": "L", "sha256": ")" + sum + R"(", "ports": ["COM5"], "report": "r"})", "\"firmware\" is missing"},
      {"{" + good + R"(, "interval_ms": 250.5})", "\"interval_ms\" must be a whole number from 0 to 60000"},
      {"{" + good + R"(, "interval_ms": "250"})", "\"interval_ms\" must be"},
      {"{" + good + R"(, "interval_ms": -1})", "\"interval_ms\" must be"},
      {R"({"name": "", "firmware": "f", "sha256": ")" + sum + R"(", "ports": ["COM5"], "report": "r"})", "\"name\""},
      {R"({"name": "L", "firmware": "f", "sha256": "ABC", "ports": ["COM5"], "report": "r"})", "64 hex digits"},
      {R"({"name": "L", "firmware": "f", "sha256": ")" + std::string(64, 'A') + R"(", "ports": ["5"], "report": "r"})",
       ""},
      {R"({"name": "L", "firmware": "f", "sha256": ")" + std::string(64, 'g') + R"(", "ports": ["5"], "report": "r"})",
       "64 hex digits"},
      {R"({"name": "L", "firmware": "f", "sha256": ")" + sum + R"(", "ports": "COM5", "report": "r"})", "\"ports\""},
      {R"({"name": "L", "firmware": "f", "sha256": ")" + sum + R"(", "ports": [], "report": "r"})", "\"ports\""},
      {R"({"name": "L", "firmware": "f", "sha256": ")" + sum + R"(", "ports": ["COM21"], "report": "r"})", "COM21"},
      {R"({"name": "L", "firmware": "f", "sha256": ")" + sum + R"(", "ports": ["COM5,COM6"], "report": "r"})",
       "\"COM5,COM6\""},
      {R"({"name": "L", "firmware": "f", "sha256": ")" + sum + R"(", "ports": ["ALL"], "report": "r"})", "\"ALL\""},
      {R"({"name": "L", "firmware": "f", "sha256": ")" + sum + R"(", "ports": ["all", "COM5"], "report": "r"})",
       "[\"all\"]"},
      {"{" + good + R"(, "publish": "mqtt://broker:1883", "station_name": "line3-a"})", ""},
      {"{" + good + R"(, "publish": "http://broker"})", "\"publish\" must be mqtt://HOST[:PORT]"},
      {"{" + good + R"(, "station_name": "line/3"})", "\"station_name\": a station's name must be"},
      {"[1, 2]", "not a JSON object"},
      {"{" + good, "not JSON"},
      {std::string(70000, ' '), "larger than 65536 bytes"},
  };
  for (const auto& c : cases) {
    const std::string path = dir.write("line.json", std::vector<std::uint8_t>(c.text.begin(), c.text.end()));
    std::string why;
    const auto line = production::readLineFile(path, &why);
    if (c.said.empty()) {
      EXPECT_TRUE(line.has_value()) << why;
      continue;
    }
    EXPECT_FALSE(line.has_value()) << c.text;
    EXPECT_TRUE(holds(why, "line file " + path + ": ")) << why;
    EXPECT_TRUE(holds(why, c.said));
  }
  // Its paths taken from the line file's folder, its own sum for the record.
  const std::string text = "{" + good + "}";
  const std::string path = dir.write("line.json", std::vector<std::uint8_t>(text.begin(), text.end()));
  std::string why;
  const auto line = production::readLineFile(path, &why);
  ASSERT_TRUE(line.has_value()) << why;
  EXPECT_EQ(line->firmware, (dir.path() / "fw.isp").string());
  EXPECT_EQ(line->report, "/srv/line3.jsonl");
  EXPECT_EQ(line->ports, (std::vector<std::string>{"COM5", "6", "/dev/ttyUSB0"}));
  EXPECT_EQ(line->intervalMs, 250);
  EXPECT_EQ(line->name, "Линия 3");
  EXPECT_EQ(line->fileSha256.size(), 64u);
  EXPECT_FALSE(production::readLineFile((dir.path() / "none.json").string(), &why));
  EXPECT_TRUE(holds(why, "none.json: "));
}

// A line an operator could change is no line for operator mode: for a user
// who is not root, the file or a folder of its path their own or open to
// their writing, or a link through a folder they may write; for root, only
// a line of root's that nobody else may change.
TEST(LineFile, LockedAgainstItsOperator) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to make files of root's and run as another user";
  TempDir dir;  // root's, 0700
  const std::filesystem::path root = dir.path();
  std::filesystem::permissions(root, std::filesystem::perms(0755));
  std::filesystem::create_directories(root / "srv");
  const std::string line = dir.write("srv/line.json", {'{', '}'});
  std::filesystem::permissions(line, std::filesystem::perms(0644));
  const auto said = [&](const std::string& path, bool asOperator) {
    return asOperator ? asAnotherUser([&] { return production::changeableByUs(path); })
                      : production::changeableByUs(path);
  };
  EXPECT_EQ(said(line, false), "");  // root's, and nobody else may write on its way
  EXPECT_EQ(said(line, true), "");
  const struct {
    std::function<void()> make, undo;
    bool asOperator;
    std::string why;
  } cases[] = {
      {[&] { std::filesystem::permissions(line, std::filesystem::perms(0666)); },
       [&] { std::filesystem::permissions(line, std::filesystem::perms(0644)); }, true, "line.json: you may write it"},
      {[&] { std::filesystem::permissions(root / "srv", std::filesystem::perms(0777)); },
       [&] { std::filesystem::permissions(root / "srv", std::filesystem::perms(0755)); }, true,
       "srv: you may write it"},
      {[&] { (void)::chown(line.c_str(), 65534, 65534); }, [&] { (void)::chown(line.c_str(), 0, 0); }, true,
       "line.json: is yours"},
      {[&] { (void)::chown(line.c_str(), 65534, 65534); }, [&] { (void)::chown(line.c_str(), 0, 0); }, false,
       "line.json: belongs to user 65534"},
      {[&] { std::filesystem::permissions(root / "srv", std::filesystem::perms(0775)); },
       [&] { std::filesystem::permissions(root / "srv", std::filesystem::perms(0755)); }, false,
       "srv: others may write it"},
  };
  for (const auto& c : cases) {
    c.make();
    EXPECT_TRUE(holds(said(line, c.asOperator), c.why));
    c.undo();
  }
  // A link to the line, in a folder the operator may write: they may point it elsewhere.
  std::filesystem::create_directories(root / "open");
  std::filesystem::permissions(root / "open", std::filesystem::perms(0777));
  std::filesystem::create_symlink(line, root / "open" / "line.json");
  EXPECT_TRUE(holds(said((root / "open" / "line.json").string(), true), "open: you may write it"));
}

}  // namespace
}  // namespace isp::test
