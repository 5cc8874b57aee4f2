#include "production/line_setup.h"

#include <algorithm>
#include <cctype>

#include "production/station_words.h"
#include "production/system_words.h"
#include "production/timestamp.h"
#include "programming/messages.h"
#include "serial/port_target.h"

namespace isp::production {

std::string stationPortName(const std::string& given) {
  const std::optional<int> n = portNumber(given);
  if (!n) return {};
  return *n == 0 ? given : comName(*n);
}

namespace {

bool contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The node and the adapter.
std::string placeText(const Port& p) {
  std::string text;
  if (p.name != p.node && !p.node.empty()) text += msg::escapeControls(p.node);
  if (!p.adapter.empty()) text += (text.empty() ? "" : "   ") + msg::escapeControls(adapterWords(p.adapter));
  return text;
}

// The node, the adapter and why the port cannot be had.
std::string whereText(const Port& p, const PortStatus& status) {
  std::string text = placeText(p);
  if (status.error == SerialError::NotFound)
    text += words::kNoAdapter;
  else if (!status)
    text += "   (" + portWords(status) + ")";
  return text.substr(std::min(text.find_first_not_of(' '), text.size()));
}

}  // namespace

bool namesEveryPort(const std::string& given) { return given == kEveryPort; }

std::vector<std::string> chosenPorts(const std::vector<std::string>& given, SerialPlatform& comPorts) {
  std::vector<std::string> chosen;
  for (const std::string& g : given)
    if (const std::string name = stationPortName(g); !name.empty() && !contains(chosen, name)) chosen.push_back(name);
  if (std::any_of(given.begin(), given.end(), namesEveryPort))
    for (const PortChoice& p : portChoices(comPorts, {}, {}))
      if (!contains(chosen, p.name)) chosen.push_back(p.name);
  return chosen;
}

std::vector<std::string> devicePaths(const std::vector<std::string>& chosen) {
  std::vector<std::string> paths;
  for (const std::string& name : chosen)
    if (portNumber(name) == 0) paths.push_back(name);
  return paths;
}

std::vector<PortChoice> portChoices(SerialPlatform& comPorts, const std::vector<std::string>& chosen,
                                    const std::vector<std::string>& paths) {
  std::vector<PortChoice> rows;
  for (const TablePort& t : comTable(comPorts)) {
    const Port p = comPorts.port(t.target);
    if (t.listed() || contains(chosen, p.name)) rows.push_back({p.name, whereText(p, t.status), placeText(p)});
  }
  for (const std::string& name : paths) {
    const PortTarget path{name, 0};
    const Port p = comPorts.port(path);
    rows.push_back({name, whereText(p, comPorts.check(path)), placeText(p)});
  }
  return rows;
}

std::string dailyReportName(std::chrono::system_clock::time_point now) {
  return timestamp(now, Zone::Local).substr(0, 10) + ".jsonl";
}

}  // namespace isp::production
