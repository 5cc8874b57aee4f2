#pragma once
#include <chrono>
#include <string>
#include <vector>

#include "serial/serial_port.h"

// What a station window's set-up offers, the same in every window: the
// ports to choose from, looked at without opening any, a port's name as the
// station keeps it, and the report's file of the day.
namespace isp::production {

// "COM5" for "5" or "com5", a device path as it is; empty for a name that
// is neither.
std::string stationPortName(const std::string& given);

// "all", in lower case alone: every port the system lists.
bool namesEveryPort(const std::string& given);

// The ports a window starts with, from what it was given (names, or "all"
// for every port there is now): each once, in the given order.
std::vector<std::string> chosenPorts(const std::vector<std::string>& given, SerialPlatform& comPorts);

// A row of the set-up's port list.
struct PortChoice {
  std::string name;   // COMn or a device path
  std::string where;  // its node, its adapter and why it cannot be had, escaped
  std::string place;  // its node and adapter alone, for the tile
};

// The device paths among the chosen ports: listed from then on, chosen or not.
std::vector<std::string> devicePaths(const std::vector<std::string>& chosen);

// Every port the system has now, every chosen one whether or not its
// adapter is there (a line plugs its adapters in after the computer
// starts), and the device paths.
std::vector<PortChoice> portChoices(SerialPlatform& comPorts, const std::vector<std::string>& chosen,
                                    const std::vector<std::string>& paths);

// "2026-12-07.jsonl": the report is one file a day, named for the local date.
std::string dailyReportName(std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

}  // namespace isp::production
