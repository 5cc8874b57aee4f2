#include "sim/device.h"

#include <algorithm>

#include "link/protocol.h"

namespace isp::sim {

namespace {
constexpr std::uint8_t kAddress = 0x00;
}

Device::Device(DeviceOptions options, FaultSink onFault) : opt_(std::move(options)), onFault_(std::move(onFault)) {}

void Device::fault(const std::string& what) {
  faults_.push_back(what);
  if (onFault_) onFault_(what);
}

std::vector<std::uint8_t> Device::image() const {
  std::vector<std::uint8_t> out;
  out.reserve(records_.size() * kRecordSize);
  for (const auto& r : records_) out.insert(out.end(), r.begin(), r.end());
  return out;
}

Response Device::handle(std::span<const std::uint8_t> f) {
  ++frames_;
  if (opt_.silent) return {};
  const std::size_t n = wire::lengthField(f.data());
  const std::uint8_t cmd = f[4], cmd2 = f[5], flag = f[6];
  if (wire::checksum(f.first(f.size() - 1)) != f.back()) {
    fault("frame " + std::to_string(frames_) + ": checksum wrong");
    return errorReply(cmd2, flag, 2);
  }
  if (f[0] != 0x00 || f[1] != kAddress) {
    fault("frame " + std::to_string(frames_) + ": start byte or address wrong");
    return errorReply(cmd2, flag, 2);
  }
  if (cmd == wire::kIdentifyCommand && cmd2 == wire::kIdentifyCommand2) {
    if (n != 4 || flag != 0) {
      fault("identification: length " + std::to_string(n) + ", flag " + std::to_string(flag));
      return errorReply(cmd2, flag, 3);
    }
    const std::string text =
        opt_.notReady ? "APP" + opt_.identText.substr(std::min<std::size_t>(3, opt_.identText.size())) : opt_.identText;
    return reply(kAtIdentify, cmd, cmd2, flag,
                 std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  }
  if (cmd == wire::kRecordCommand && cmd2 == wire::kRecordCommand2) return onRecord(f);
  fault("frame " + std::to_string(frames_) + ": unknown command " + std::to_string(cmd) + "/" + std::to_string(cmd2));
  return errorReply(cmd2, flag, 3);
}

Response Device::onRecord(std::span<const std::uint8_t> f) {
  const std::size_t n = wire::lengthField(f.data());
  const std::uint8_t cmd = f[4], cmd2 = f[5], flag = f[6];
  if (n != kRecordSize + 4) {
    fault("record frame with length " + std::to_string(n));
    return errorReply(cmd2, flag, 2);
  }
  int k;
  if (flag == 0) {
    k = 0;  // a new transfer starts over
  } else if (flag == 1) {
    k = static_cast<int>(records_.size());
    if (k == 0 || k >= kRecords) {
      fault(k == 0 ? "data record before the header record" : "record beyond 512");
      return errorReply(cmd2, flag, 3);
    }
  } else {
    fault("record frame with flag " + std::to_string(flag));
    return errorReply(cmd2, flag, 3);
  }
  // A refused record is not stored.
  if (k == opt_.errorAt || k == opt_.hangupAt) return reply(k, cmd, cmd2, flag, {});
  if (k == 0) records_.clear();
  std::array<std::uint8_t, kRecordSize> rec{};
  std::copy_n(f.begin() + 7, kRecordSize, rec.begin());
  records_.push_back(rec);
  return reply(k, cmd, cmd2, flag, {});
}

// A fault strikes the first time its place comes, as a glitch would: the
// next transfer finds the device well again.
bool Device::strikes(int& faultAt, int at) {
  if (faultAt != at) return false;
  faultAt = kNever;
  return true;
}

Response Device::reply(int at, std::uint8_t command, std::uint8_t command2, std::uint8_t flag,
                       std::span<const std::uint8_t> data) {
  if (strikes(opt_.errorAt, at)) return errorReply(command2, flag, static_cast<std::uint8_t>(opt_.errorCode));
  if (strikes(opt_.hangupAt, at)) return Response{{}, {}, true};
  Response r;
  r.bytes.resize(data.size() + wire::kOverhead);
  wire::build(r.bytes, kAddress, command, command2, flag, data);
  if (strikes(opt_.badChecksumAt, at)) ++r.bytes.back();
  if (strikes(opt_.delayAt, at)) r.delay = opt_.delay;
  if (strikes(opt_.partialAt, at)) r.bytes.resize(r.bytes.size() / 2);
  if (strikes(opt_.oversizeAt, at)) {
    r.bytes[2] = 300 & 0xFF;
    r.bytes[3] = 300 >> 8;
  }
  return r;
}

Response Device::errorReply(std::uint8_t command2, std::uint8_t flag, std::uint8_t code) {
  Response r;
  r.bytes.resize(1 + wire::kOverhead);
  const std::uint8_t data[1] = {code};
  wire::build(r.bytes, kAddress, wire::kErrorKind, command2, flag, data);
  return r;
}

}  // namespace isp::sim
