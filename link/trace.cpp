#include "link/trace.h"

#include <cstdio>

#include "link/protocol.h"
#include "text/escape.h"

namespace isp {

namespace {
std::atomic<Trace*> g_trace{nullptr};

std::string hex2(unsigned b) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", b & 0xffu);
  return text;
}
}  // namespace

Trace* trace() { return g_trace.load(std::memory_order_acquire); }
void setTrace(Trace* t) { g_trace.store(t, std::memory_order_release); }

Trace::Trace(Write write, MonotonicClock& clock) : write_(std::move(write)), clock_(clock), start_(clock.now()) {}

double Trace::ms() const { return std::chrono::duration<double, std::milli>(clock_.now() - start_).count(); }

void Trace::say(std::string_view port, std::string_view event) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%10.3f ", ms());
  // A port's name or a device's bytes never command the reader's terminal.
  const std::string line = stamp + escapeControls(port) + " " + escapeControls(event) + "\n";
  std::lock_guard lock(mu_);
  if (write_(line) || lost_.exchange(true)) return;
  if (onLost) onLost("a trace line could not be written; the transfer goes on without it");
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 3 + 16);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += ' ';
    out += hex2(bytes[i]);
  }
  return out + " (" + std::to_string(bytes.size()) + (bytes.size() == 1 ? " byte)" : " bytes)");
}

std::string frameWords(std::span<const std::uint8_t> f) {
  if (f.size() < wire::kOverhead) return "too short for a frame";
  const std::size_t n = wire::lengthField(f.data());
  const std::uint8_t sum = wire::checksum(f.first(f.size() - 1)), given = f.back();
  std::string words = "address " + hex2(f[1]) + ", length " + std::to_string(n) + ", command " + hex2(f[4]) + " " +
                      hex2(f[5]) + ", flag " + hex2(f[6]);
  if (f[4] == wire::kErrorKind) words += ", error code " + std::to_string(f[7]);
  if (n + wire::kHeaderSize != f.size()) words += ", but " + std::to_string(f.size()) + " bytes in all";
  return words + ", checksum " + hex2(given) +
         (sum == given ? " right" : " wrong: the bytes before it sum to " + hex2(sum));
}

}  // namespace isp
