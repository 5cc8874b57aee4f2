#include "production/port_listing.h"

#include "production/adapter_json.h"

namespace isp::production {

std::vector<ListedPort> listPorts(SerialPlatform& platform) {
  std::vector<ListedPort> ports;
  for (const TablePort& p : comTable(platform))
    if (p.listed()) ports.push_back({p.target.number, platform.port(p.target), p.status});
  return ports;
}

std::vector<PortTarget> everyPort(SerialPlatform& platform, bool laterToo) {
  std::vector<PortTarget> ports;
  for (const TablePort& p : comTable(platform))
    if (laterToo || p.listed()) ports.push_back(p.target);
  return ports;
}

std::string listingJson(const std::vector<ListedPort>& ports) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const ListedPort& p : ports) {
    nlohmann::ordered_json port{{"name", p.port.name}, {"node", p.port.node}};
    port["adapter"] = adapterObject(p.port.adapter);
    port["available"] = static_cast<bool>(p.status);
    if (!p.status) port["why"] = p.status.why;
    list.push_back(std::move(port));
  }
  // A device's name that is not UTF-8 is replaced, not fatal: a script gets valid JSON.
  return list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace isp::production
