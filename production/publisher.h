#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "production/os.h"

// The production record published to an MQTT broker, the record itself the
// outbox: a line goes only once it is on disk, in the record's order; the
// offset of the last line the broker acknowledged is kept beside the record
// (RECORD.sent), and what lies past it is sent first at the next start. A
// broker out of reach never holds up the line: the lines wait in the record.
//   isp/<station>/record  each report line as it stands, QoS 1
//   isp/<station>/status  retained: running or stopped with the totals; the
//                         broker's last will says offline
namespace isp::production {

struct PublishSetup {
  std::string url{};       // mqtt://HOST[:PORT] or mqtts://HOST[:PORT]
  std::string caFile{};    // mqtts: a private authority; else the system's
  std::string authFile{};  // two lines, the user and the password
  std::string station{};   // the topics' name for this station
};

// The broker as a URL names it.
struct Broker {
  bool tls = false;
  std::string host;
  int port = 0;
};
// Nothing, with why, for anything but mqtt:// or mqtts://, a host and
// perhaps a port from 1 to 65535.
std::optional<Broker> parseBroker(const std::string& url, std::string* why);
// A station's name as a topic level: nothing, with why, when it is empty or
// holds what MQTT gives a meaning ('/', '+', '#') or a control character.
bool goodStationName(const std::string& name, std::string* why);

// How the publishing stands, told on every change.
struct BrokerState {
  bool reachable = false;
  std::size_t queued = 0;  // lines on disk the broker has not acknowledged
  std::string why{};       // why the broker is out of reach, in English
};

// The offset file beside a record.
inline std::string sentFileOf(const std::string& record) { return record + ".sent"; }

class Publisher {
 public:
  using Clock = std::chrono::steady_clock;
  // Checks the set-up (the URL, the credentials' file, the authority's) and
  // starts publishing on a thread of its own, first whatever the record at
  // each of backlog holds past its offset. Nothing, with why, when the
  // set-up cannot be used or this build has no MQTT client; no connection
  // has been tried then. changed: on the publisher's thread.
  static std::unique_ptr<Publisher> start(const PublishSetup& setup, const std::vector<std::string>& backlog,
                                          std::function<void(const BrokerState&)> changed, std::string* why);
  virtual ~Publisher() = default;
  // A line on disk in the record, ending at end: ProductionRecord::onRecorded.
  virtual void recorded(const RecordFile::End& end, const std::string& line) = 0;
  // A window's line started (its totals from naught) or stopped: the status
  // says so. A publisher starts running.
  virtual void running(bool running) = 0;
  // The line has ended: the status says stopped; the lines still queued are
  // given up to `wait` to be acknowledged. How many are not.
  virtual std::size_t finish(std::chrono::milliseconds wait) = 0;
};

// What a record in a folder of day files has waiting: each day's file
// whose offset file says it is not sent whole, oldest first, and today's.
std::vector<std::string> backlogIn(const std::string& folder, const std::string& today);

}  // namespace isp::production
