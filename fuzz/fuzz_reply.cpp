// Arbitrary device bytes through the frame exchange and the identification.
// The first byte picks the request; the rest is what the device sends.
#include <array>
#include <cstdint>
#include <cstdlib>

#include "link/identification.h"
#include "link/result_codes.h"
#include "tests/support/scripted_port.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  isp::test::ScriptedPlatform platform;
  platform.presentPorts = {1};
  isp::Link link(platform);
  platform.queue(isp::test::Bytes(data + 1, data + size));

  const std::array<std::uint8_t, isp::wire::kRecordSize> record{};
  if (data[0] % 3 == 0) {
    const isp::Identity id = isp::identify(link, isp::PortTarget::com(1), 0);
    if (id.code < -1 || id.code > 258 || id.name.size() > id.text.size()) std::abort();
    return 0;
  }
  const isp::Reply r = link.exchange(isp::PortTarget::com(1), 0, isp::wire::Request::record(data[0] % 3 - 1), record);
  if (r.code < 0 || r.code > 258) std::abort();
  if (r.code == isp::rc::kOk && (r.length < 5 || r.length > 259)) std::abort();
  return 0;
}
