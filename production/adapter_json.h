#pragma once
#include <nlohmann/json.hpp>

#include "serial/serial_port.h"

// An adapter's facts as one JSON object, each fact a field of its own and
// only when known: the record's "adapter" and the listing's, for whoever
// asks which boards went through one adapter.
namespace isp::production {

inline nlohmann::ordered_json adapterObject(const Adapter& a) {
  nlohmann::ordered_json o = nlohmann::ordered_json::object();
  const std::pair<const char*, const std::string*> facts[] = {
      {"vendor_id", &a.vendorId}, {"product_id", &a.productId}, {"manufacturer", &a.maker}, {"product", &a.product},
      {"serial", &a.serial},      {"usb_path", &a.usbPath},     {"device", &a.device}};
  for (const auto& [key, value] : facts)
    if (!value->empty()) o[key] = *value;
  return o;
}

}  // namespace isp::production
