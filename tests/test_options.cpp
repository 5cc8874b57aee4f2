// isp-flash's command line: what each accepted one asks for, and the words
// of each refusal. CLI11's words stand for a range, an exclusion and an
// unknown argument; isp-flash's own are kept where CLI11's would be poorer:
// a bad port list, an option without its value, a flag given one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/options.h"

namespace isp::test {
namespace {

using cli::Options;

std::optional<Options> parse(std::vector<std::string> args, std::string* error) {
  args.insert(args.begin(), "isp-flash");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  return cli::parse(static_cast<int>(argv.size()), argv.data(), error);
}

// What a parsed command line asks for, in one line: the mode, each port
// with its number, then the settings that differ from their defaults.
std::string summary(const Options& o) {
  std::string text = std::string("FILHV").substr(static_cast<std::size_t>(o.mode), 1);
  for (const PortTarget& p : o.ports) text += " " + p.name + "=" + std::to_string(p.number);
  if (o.allPorts) text += " all";
  if (!o.file.empty()) text += " file=" + o.file;
  if (!o.reportFile.empty()) text += " report=" + o.reportFile;
  if (o.intervalMs != kDefaultIntervalMs) text += " interval=" + std::to_string(o.intervalMs);
  return text + (o.station ? " station" : "") + (o.quiet ? " quiet" : "");
}

TEST(Options, WhatEachLineAsksFor) {
  // The arguments, and what they ask for: F flash, I identify, L list, H help, V version.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--port", "COM5", "--file", "f"}, "F COM5=5 file=f"},
      {{"--port=com20", "--file=f", "--interval=0", "-q"}, "F com20=20 file=f interval=0 quiet"},
      {{"--port", "1", "--file", "f", "--interval", "0010"}, "F 1=1 file=f interval=10"},
      {{"--port", "3,/dev/ttyUSB0,//./COM7", "--identify"}, "I 3=3 /dev/ttyUSB0=0 //./COM7=0"},
      {{"--station", "--port", "all", "--file", "f", "--report", "r"}, "F all file=f report=r station"},
      {{"--port", "1", "--port", "2", "--file", "a", "--file", "b"}, "F 2=2 file=b"},  // the last counts
      {{"--list"}, "L"},
      {{"--help", "--port", "99"}, "H"},
  };
  for (const auto& [args, asks] : cases) {
    std::string error;
    const auto o = parse(args, &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(summary(*o), asks);
  }
}

TEST(Options, EachRefusalSaysWhy) {
  const std::string ports =
      "--port takes COM1 to COM20, 1 to 20, a device path, a comma-separated list of these or all: ";
  const std::string interval = "--interval takes milliseconds from 0 to 60000, in decimal digits: ";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "--port is required"},
      {{"--port", "1"}, "--file is required"},
      {{"--port", "COM21", "--file", "f"}, ports + "COM21"},
      {{"--port", "1,COM", "--file", "f"}, ports + "COM"},
      {{"--port", "ALL", "--file", "f"}, ports + "ALL"},  // lower case alone, as everywhere
      {{"--port", "1,", "--file", "f"}, "--port has an empty name in its list: 1,"},
      {{"--port", "1,,2", "--file", "f"}, "--port has an empty name in its list: 1,,2"},
      {{"--port=", "--file", "f"}, "--port needs a value"},
      {{"--file", "f", "--port"}, "--port needs a value"},
      {{"--interval=", "--port", "1", "--file", "f"}, "--interval needs a value"},
      {{"--quiet=1", "--port", "1", "--file", "f"}, "--quiet takes no value"},
      // Decimal, as isp-station and isp-sim take numbers: never octal or hexadecimal.
      {{"--interval", "60001", "--port", "1", "--file", "f"}, interval + "60001"},
      {{"--interval", "0x10", "--port", "1", "--file", "f"}, interval + "0x10"},
      {{"--interval", "-1", "--port", "1", "--file", "f"}, interval + "-1"},
      {{"--list", "--port", "1"}, "--list excludes --port"},
      {{"--identify", "--port", "1", "--file", "f"}, "--identify excludes --file"},
      {{"--station", "--identify", "--port", "1"}, "--identify excludes --station"},
      {{"--bogus"}, "The following argument was not expected: --bogus"},
      // The record is the outbox: publishing needs it; the broker and the station's name as MQTT takes them.
      {{"--port", "1", "--file", "f", "--publish", "mqtt://h"},
       "--publish needs --report: the record is what is "
       "published, and what waits while the broker cannot "
       "be reached"},
      {{"--port", "1", "--file", "f", "--publish-auth", "a"}, "--publish-auth needs --publish"},
      {{"--port", "1", "--file", "f", "--report", "r", "--publish", "http://h"},
       "the broker must be mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not http://h"},
      {{"--port", "1", "--file", "f", "--report", "r", "--publish", "mqtt://h:0"},
       "the broker's port must be a number from 1 to 65535: mqtt://h:0"},
      {{"--port", "1", "--file", "f", "--report", "r", "--publish", "mqtt://h", "--station-name", "a/b"},
       "a station's name must be 1 to 200 characters, none of them '/', '+', '#' or a control character"},
      {{"--list", "--json", "--port", "1"}, "--list excludes --port"},
      {{"--json"}, "--json requires --list"},
  };
  for (const auto& [args, why] : cases) {
    std::string error;
    EXPECT_FALSE(parse(args, &error));
    EXPECT_EQ(error, why);
  }
}

}  // namespace
}  // namespace isp::test
