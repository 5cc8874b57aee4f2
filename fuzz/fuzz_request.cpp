// Arbitrary request frames through the stand-in's device logic. Its framing
// hands over only frames whose length field matches their size, so the
// input is made so; everything else is the fuzzer's. Every answer must be a
// well-formed frame.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sim/device.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using isp::sim::Device;
  if (size < isp::wire::kOverhead || size > isp::wire::kHeaderSize + Device::kMaxLengthField) return 0;
  std::vector<std::uint8_t> frame(data, data + size);
  const std::size_t n = size - isp::wire::kHeaderSize;
  frame[2] = static_cast<std::uint8_t>(n & 0xFF);
  frame[3] = static_cast<std::uint8_t>(n >> 8);

  Device device(isp::sim::DeviceOptions{});
  const isp::sim::Response r = device.handle(frame);
  const auto& b = r.bytes;
  if (b.size() < isp::wire::kOverhead || isp::wire::lengthField(b.data()) + isp::wire::kHeaderSize != b.size())
    std::abort();
  if (isp::wire::checksum(std::span(b).first(b.size() - 1)) != b.back()) std::abort();
  if (device.records().size() > 1) std::abort();
  return 0;
}
