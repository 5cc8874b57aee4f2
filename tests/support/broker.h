#pragma once
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/fixtures.h"

struct mosquitto;

namespace isp::test {

// A real MQTT broker (Debian's mosquitto) for one test: on a free loopback
// port, with a configuration and a folder of its own; stopped when it
// goes, and with the test's process if that dies first.
class TestBroker {
 public:
  struct Options {
    bool persistent = false;         // what it holds is kept on disk across a stop
    bool tls = false;                // a certificate of its own, signed by caFile()
    std::string user{}, password{};  // else anyone may connect
  };
  explicit TestBroker(Options options);
  TestBroker() : TestBroker(Options{}) {}
  ~TestBroker();
  TestBroker(const TestBroker&) = delete;
  TestBroker& operator=(const TestBroker&) = delete;

  int port() const { return port_; }
  std::string url() const;
  std::string caFile() const { return (dir_.path() / "ca.crt").string(); }
  const TempDir& folder() const { return dir_; }
  // Stopped as a system stops it (SIGTERM), its persistence written; and started again on the same port.
  void stop();
  void start();

 private:
  Options options_;
  TempDir dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// One message as a subscriber got it.
struct Message {
  std::string topic, payload;
  bool retained = false;
};

// A subscriber keeping every message it gets, QoS 1, on a thread of its
// own, connecting again whenever the broker comes back. With a client id it
// is persistent: the broker keeps its messages while it is away.
class Subscriber {
 public:
  Subscriber(int port, const std::string& topic, const std::string& clientId = {});
  ~Subscriber();
  Subscriber(const Subscriber&) = delete;
  Subscriber& operator=(const Subscriber&) = delete;
  std::vector<Message> messages();
  // Waits until done holds for the messages, or the time is up; whether it holds.
  bool waitFor(const std::function<bool(const std::vector<Message>&)>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));

 private:
  mosquitto* client_;
  std::string topic_;
  std::mutex mu_;
  std::vector<Message> got_;
  bool subscribed_ = false;
};

}  // namespace isp::test
