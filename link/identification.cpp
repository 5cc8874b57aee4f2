#include "link/identification.h"

#include "link/protocol.h"
#include "link/result_codes.h"

namespace isp {

Identity identify(Link& link, const PortTarget& port, int address) {
  const Reply reply = link.exchange(port, address, wire::Request::identify());
  Identity id{.code = reply.code};
  if (reply.code != rc::kOk) return id;
  // The text ends before the checksum.
  for (std::size_t i = 7; i + 1 < reply.length; ++i) {
    const auto c = static_cast<char>(reply.frame[i]);
    if (c == '\0') continue;
    id.text += c;
    if (i >= 11) id.name += c;
  }
  // Bytes 7 to 9 are looked at whatever the length: a short reply leaves its
  // checksum or the cleared buffer there.
  const auto& f = reply.frame;
  id.code = f[7] == 'I' && f[8] == 'S' && f[9] == 'P' ? rc::kOk : rc::kNotInProgrammingMode;
  return id;
}

}  // namespace isp
