#pragma once
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "link/protocol.h"

// The device side of the protocol, without any I/O: frames in, replies out.
namespace isp::sim {

using wire::kRecords;
using wire::kRecordSize;

// Where a fault strikes, once: a record number 0 to 512, or the identification.
constexpr int kAtIdentify = -1;
constexpr int kNever = -2;

struct DeviceOptions {
  std::string identText = "ISP SIM-1";  // data of the identification reply
  bool silent = false;                  // answers nothing at all
  bool notReady = false;                // identification text without "ISP"
  int errorAt = kNever;                 // error reply with errorCode
  int errorCode = 4;
  int badChecksumAt = kNever;  // reply checksum off by one
  int delayAt = kNever;        // reply held back by `delay`
  std::chrono::milliseconds delay{400};
  int partialAt = kNever;   // only the first half of the reply
  int oversizeAt = kNever;  // length field of 300
  int hangupAt = kNever;    // close the line instead of replying
};

// What the line should do in answer to one frame.
struct Response {
  std::vector<std::uint8_t> bytes;
  std::chrono::milliseconds delay{0};
  bool hangup = false;
};

class Device {
 public:
  using FaultSink = std::function<void(const std::string&)>;
  explicit Device(DeviceOptions options, FaultSink onFault = {});

  // Largest length field a request can carry (1024 payload bytes + 4).
  static constexpr std::size_t kMaxLengthField = 1028;

  // Handles one complete frame (header, N bytes).
  Response handle(std::span<const std::uint8_t> frame);
  // Reports a fault found by the framing layer.
  void fault(const std::string& what);
  // New faults to inject from the next frame on; what is stored stays.
  void arm(const DeviceOptions& options) { opt_ = options; }

  // Records in the order they were accepted; record k at index k.
  const std::vector<std::array<std::uint8_t, kRecordSize>>& records() const { return records_; }
  bool complete() const { return records_.size() == kRecords; }
  // The programmed image, 513 x 130 bytes, once complete.
  std::vector<std::uint8_t> image() const;
  const std::vector<std::string>& faults() const { return faults_; }
  int framesHandled() const { return frames_; }

 private:
  Response reply(int at, std::uint8_t command, std::uint8_t command2, std::uint8_t flag,
                 std::span<const std::uint8_t> data);
  Response errorReply(std::uint8_t command2, std::uint8_t flag, std::uint8_t code);
  Response onRecord(std::span<const std::uint8_t> f);
  static bool strikes(int& faultAt, int at);

  DeviceOptions opt_;
  FaultSink onFault_;
  std::vector<std::array<std::uint8_t, kRecordSize>> records_;
  std::vector<std::string> faults_;
  int frames_ = 0;
};

}  // namespace isp::sim
