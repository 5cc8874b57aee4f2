#include "tests/support/scripted_port.h"

namespace isp::test {

std::string hex(const Bytes& b) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (std::uint8_t x : b) s += std::string(s.empty() ? "" : " ") + digits[x >> 4] + digits[x & 15];
  return s;
}

namespace {

class ScriptedPort final : public SerialPort {
 public:
  ScriptedPort(ScriptedPlatform& p, int n) : p_(p), n_(n) {}
  ~ScriptedPort() override { p_.journal.push_back("close " + std::to_string(n_)); }

  void discardInput() override { p_.input.clear(); }

  IoResult write(std::span<const std::uint8_t> bytes) override {
    Bytes b(bytes.begin(), bytes.end());
    p_.writes.push_back(b);
    p_.journal.push_back("write " + std::to_string(n_) + ": " + hex(b));
    if (!p_.replies.empty()) {
      p_.input.insert(p_.input.end(), p_.replies.front().begin(), p_.replies.front().end());
      p_.replies.pop_front();
    }
    return {bytes.size(), false};
  }

  IoResult read(std::span<std::uint8_t> bytes) override {
    p_.journal.push_back("read " + std::to_string(bytes.size()));
    if (p_.disconnectOnRead) return {0, true};
    std::size_t k = 0;
    while (k < bytes.size() && !p_.input.empty()) {
      bytes[k++] = p_.input.front();
      p_.input.pop_front();
    }
    return {k, false};
  }

 private:
  ScriptedPlatform& p_;
  int n_;
};

}  // namespace

PortStatus ScriptedPlatform::check(const PortTarget& t) {
  const int n = t.number;
  if (presentPorts.count(n) == 0) return {SerialError::NotFound, "absent"};
  return {};
}

OpenResult ScriptedPlatform::open(const PortTarget& t) {
  const int n = t.number;
  PortStatus status = check(t);
  if (!status) return {nullptr, status};
  journal.push_back("open " + std::to_string(n));
  return {std::make_unique<ScriptedPort>(*this, n), {}};
}

}  // namespace isp::test
