// Arbitrary device bytes through the frame exchange and the identification.
// The first byte picks the request; the rest is what the device sends.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/identification.h"
#include "link/result_codes.h"
#include "tests/support/scripted_port.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  isp::test::ScriptedPlatform platform;
  platform.presentPorts = {1};
  isp::Link link(platform);
  link.rec.selectedPort = 1;
  platform.queue(isp::test::Bytes(data + 1, data + size));

  std::int32_t r;
  switch (data[0] % 3) {
    case 0: r = isp::identify(link, 1, 0); break;
    case 1: r = link.exchange(0, isp::wire::Request::record(0)); break;
    default: r = link.exchange(0, isp::wire::Request::record(1)); break;
  }
  const bool known = (r >= -1 && r <= 258);
  if (!known) std::abort();
  if (r == isp::rc::kOk && (link.rec.replyLength < 5 || link.rec.replyLength > 259)) std::abort();
  if (link.rec.textValid && std::memchr(link.rec.replyText.data(), 0, 253) == nullptr) std::abort();
  if (link.rec.deviceName.size() > link.rec.identityText.size()) std::abort();
  return 0;
}
