#include "link/identification.h"

#include "link/protocol.h"
#include "link/result_codes.h"

namespace isp {

std::int32_t identify(Link& link, int port, int address) {
  LinkRecord& rec = link.rec;
  rec.selectedPort = port;
  const std::int32_t r = link.exchange(address, wire::Request::identify());
  if (r != rc::kOk) return r;

  rec.identityText.clear();
  rec.deviceName.clear();
  // The text ends before the checksum, at index replyLength - 2.
  const int last = rec.replyLength - 2;
  for (int i = 7; i <= last; ++i) {
    const auto c = static_cast<char>(rec.reply[static_cast<std::size_t>(i)]);
    if (c == '\0') continue;
    rec.identityText += c;
    if (i >= 11) rec.deviceName += c;
  }
  // Bytes 7 to 9 are looked at whatever the length: a short reply leaves its
  // checksum or the cleared buffer there.
  const bool isp = rec.reply[7] == 'I' && rec.reply[8] == 'S' && rec.reply[9] == 'P';
  return isp ? rc::kOk : rc::kNotInProgrammingMode;
}

}  // namespace isp
