#include "production/publisher.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "production/timestamp.h"
#include "programming/file_access.h"
#include "text/decimal.h"
#include "text/utf8_path.h"

#if ISP_HAVE_MQTT
#include <mosquitto.h>
#endif

namespace isp::production {

using std::chrono::milliseconds;

std::optional<Broker> parseBroker(const std::string& url, std::string* why) {
  Broker b;
  std::string rest;
  if (url.starts_with("mqtt://")) {
    rest = url.substr(7), b.port = 1883;
  } else if (url.starts_with("mqtts://")) {
    rest = url.substr(8), b.tls = true, b.port = 8883;
  } else {
    return *why = "the broker must be mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not " + url, std::nullopt;
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  // [v6::1]:1883 keeps its colons in brackets.
  const std::size_t close = rest.starts_with('[') ? rest.find(']') : std::string::npos;
  const std::size_t colon = rest.find(':', close == std::string::npos ? 0 : close);
  b.host = rest.substr(0, colon);
  if (close != std::string::npos) b.host = rest.substr(1, close - 1);
  if (colon != std::string::npos) {
    const auto port = parseDecimal(rest.substr(colon + 1), 1, 65535);
    if (!port) return *why = "the broker's port must be a number from 1 to 65535: " + url, std::nullopt;
    b.port = static_cast<int>(*port);
  }
  if (b.host.empty() || b.host.find_first_of("/?#@ ") != std::string::npos)
    return *why = "the broker's host is missing or not a host name: " + url, std::nullopt;
  return b;
}

bool goodStationName(const std::string& name, std::string* why) {
  const bool control =
      std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
  if (!name.empty() && name.find_first_of("/+#") == std::string::npos && !control && name.size() <= 200) return true;
  *why = "a station's name must be 1 to 200 characters, none of them '/', '+', '#' or a control character";
  return false;
}

std::vector<std::string> backlogIn(const std::string& folder, const std::string& today) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(utf8Path(folder), ec)) {
    const std::string path = utf8Of(entry.path());
    if (path.ends_with(".jsonl") && path != today && std::filesystem::exists(utf8Path(sentFileOf(path)), ec))
      files.push_back(path);
  }
  std::sort(files.begin(), files.end());  // YYYY-MM-DD: the oldest first
  files.push_back(today);
  return files;
}

#if !ISP_HAVE_MQTT

std::unique_ptr<Publisher> Publisher::start(const PublishSetup&, const std::vector<std::string>&,
                                            std::function<void(const BrokerState&)>, std::string* why) {
  *why = "this build has no MQTT client library (libmosquitto), so it cannot publish";
  return nullptr;
}

#else

namespace {

constexpr std::size_t kWindow = 32;         // messages in flight at once: a slow broker holds back no line
constexpr int kLoopMs = 50;                 // how long the connection waits for the network in one turn
constexpr milliseconds kKeepOffset{200};    // the offset file is written at most this often
constexpr milliseconds kStatusEvery{1000};  // the retained status at most this often
constexpr milliseconds kConnectWait{5000};  // a connection not up by then is tried anew
constexpr milliseconds kRetryFirst{500}, kRetryMost{10000};
constexpr int kKeepAliveS = 30;

// One record file: what the broker has, what has been sent, what is on disk.
struct Source {
  std::string path;
  std::uint64_t acked = 0;   // the broker has every line up to here
  std::uint64_t sent = 0;    // lines up to here are in flight or acknowledged
  std::uint64_t onDisk = 0;  // the record is synced up to here
  std::uint64_t kept = 0;    // RECORD.sent says so much
  std::size_t queued = 0;    // lines past acked, on disk
};

struct InFlight {
  int mid = 0;
  std::uint64_t end = 0;
  bool acked = false;
};

// RECORD.sent: the offset the broker has, and the file it is an offset in;
// another file at the path (rotated, replaced) or a shorter one starts over.
std::uint64_t keptOffset(const std::string& record) {
  std::FILE* f = openFile(sentFileOf(record), "rb");
  if (!f) return 0;
  char text[512] = {};
  const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  const auto j = nlohmann::json::parse(std::string(text, n), nullptr, false);
  if (!j.is_object() || !j.contains("offset") || !j["offset"].is_number_unsigned() || !j.contains("file") ||
      j["file"] != fileIdentity(record))
    return 0;
  return j["offset"].get<std::uint64_t>();
}

bool seek(std::FILE* f, std::uint64_t offset) {
#ifdef _WIN32
  return ::_fseeki64(f, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return ::fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

// The record's whole lines from `from` up to `to` at most: where the last
// one ends, and how many there are.
std::pair<std::uint64_t, std::size_t> wholeLines(const std::string& record, std::uint64_t from,
                                                 std::uint64_t to = UINT64_MAX) {
  std::FILE* f = openFile(record, "rb");
  if (!f) return {from, 0};
  std::uint64_t end = from, at = from;
  std::size_t lines = 0;
  if (seek(f, from)) {
    char chunk[65536];
    for (std::size_t n; at < to && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0; at += n)
      for (std::size_t i = 0; i < n && at + i < to; ++i)
        if (chunk[i] == '\n') end = at + i + 1, ++lines;
  }
  std::fclose(f);
  return {end, lines};
}

class MosquittoPublisher final : public Publisher {
 public:
  MosquittoPublisher(PublishSetup setup, Broker broker, std::string user, std::string password,
                     std::function<void(const BrokerState&)> changed)
      : setup_(std::move(setup)),
        broker_(std::move(broker)),
        user_(std::move(user)),
        password_(std::move(password)),
        changed_(std::move(changed)),
        recordTopic_("isp/" + setup_.station + "/record"),
        statusTopic_("isp/" + setup_.station + "/status") {}

  void resume(const std::string& record) {
    Source s{.path = record};
    const std::uint64_t kept = keptOffset(record);
    const auto [end, lines] = wholeLines(record, kept);
    // A shorter file than the offset says is another file: from its start.
    s.acked = s.sent = s.kept = end < kept ? 0 : kept;
    s.onDisk = end;
    s.queued = lines;
    if (s.onDisk > s.acked) sources_.push_back(std::move(s));
  }

  void begin() {
    state_.queued = queued();
    thread_ = std::thread([this] { run(); });
  }

  ~MosquittoPublisher() override { finish(milliseconds(0)); }

  void recorded(const RecordFile::End& end, const std::string& line) override {
    {
      std::lock_guard lock(mu_);
      if (sources_.empty() || sources_.back().path != end.path) {
        // A file met for the first time (a new day's) is sent from its own offset.
        const std::uint64_t kept = keptOffset(end.path);
        sources_.push_back({.path = end.path});
        Source& s = sources_.back();
        s.acked = s.sent = s.kept = s.onDisk = kept <= end.offset ? kept : 0;
      }
      Source& s = sources_.back();
      // Another writer's lines between ours go with ours.
      if (end.offset > s.onDisk)
        s.queued += end.offset - s.onDisk == line.size() ? 1 : wholeLines(end.path, s.onDisk, end.offset).second;
      s.onDisk = std::max(s.onDisk, end.offset);
      const auto j = nlohmann::json::parse(line, nullptr, false);
      // The station's totals: completed, failed (not completed, not identified), stopped.
      if (j.is_object() && j.contains("result") && j["result"].is_string()) {
        const std::string result = j["result"].get<std::string>();
        ++totals_[result == "completed" || result == "stopped" ? result : "failed"];
      }
      statusDue_ = true;
    }
    wake_.notify_all();
    tell();
  }

  void running(bool running) override {
    {
      std::lock_guard lock(mu_);
      if (running && !running_) totals_.clear();
      running_ = running;
      statusDue_ = true;
    }
    wake_.notify_all();
  }

  std::size_t finish(milliseconds wait) override {
    {
      std::lock_guard lock(mu_);
      if (!thread_.joinable()) return queuedLocked();
      finishing_ = true, running_ = false;
      finishBy_ = Clock::now() + wait;
      statusDue_ = true;
    }
    wake_.notify_all();
    thread_.join();
    std::lock_guard lock(mu_);
    keepOffsets(true);
    return queuedLocked();
  }

 private:
  std::size_t queuedLocked() const {
    std::size_t n = 0;
    for (const Source& s : sources_) n += s.queued;
    return n;
  }
  std::size_t queued() {
    std::lock_guard lock(mu_);
    return queuedLocked();
  }

  // The state said when it changed.
  void tell(std::optional<bool> reachable = std::nullopt, const std::string& why = {}) {
    BrokerState now;
    {
      std::lock_guard lock(mu_);
      if (reachable) state_.reachable = *reachable, state_.why = *reachable ? std::string() : why;
      state_.queued = queuedLocked();
      if (state_.reachable == told_.reachable && state_.queued == told_.queued && state_.why == told_.why) return;
      told_ = now = state_;
    }
    if (changed_) changed_(now);
  }

  bool over() {
    std::lock_guard lock(mu_);
    return finishing_ && Clock::now() >= finishBy_;
  }

  void run() {
    milliseconds retry = kRetryFirst;
    while (!over()) {
      std::string why;
      if (connectAndServe(&why)) retry = kRetryFirst;
      std::unique_lock lock(mu_);
      if (done_) return;
      lock.unlock();
      tell(false, why);
      lock.lock();
      // Tried again soon after a connection that was up, later and later after one that never came.
      wake_.wait_for(lock, retry, [&] { return finishing_ && Clock::now() >= finishBy_; });
      retry = std::min(retry * 2, kRetryMost);
    }
  }

  // One connection, from its start until it is lost or the end is reached;
  // true when it was up at all.
  bool connectAndServe(std::string* why) {
    mosquitto* m = mosquitto_new(nullptr, true, this);
    if (!m) return *why = "out of memory", false;
    const std::unique_ptr<mosquitto, void (*)(mosquitto*)> owned(m, mosquitto_destroy);
    const std::string offline = statusText("offline");
    mosquitto_will_set(m, statusTopic_.c_str(), static_cast<int>(offline.size()), offline.data(), 1, true);
    if (!user_.empty()) mosquitto_username_pw_set(m, user_.c_str(), password_.c_str());
    if (broker_.tls) {
      const int rc = mosquitto_tls_set(m, setup_.caFile.empty() ? nullptr : setup_.caFile.c_str(),
                                       setup_.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
      if (rc != MOSQ_ERR_SUCCESS) return *why = mosquitto_strerror(rc), false;
    }
    mosquitto_connect_callback_set(
        m, [](mosquitto*, void* self, int rc) { static_cast<MosquittoPublisher*>(self)->connected(rc); });
    mosquitto_publish_callback_set(
        m, [](mosquitto*, void* self, int mid) { static_cast<MosquittoPublisher*>(self)->acknowledged(mid); });
    {
      std::lock_guard lock(mu_);
      up_ = false, refused_ = 0, statusMid_ = -1, statusDue_ = true;
      inFlight_.clear();
      if (!sources_.empty()) sources_.front().sent = sources_.front().acked;
    }
    int rc = mosquitto_connect_async(m, broker_.host.c_str(), broker_.port, kKeepAliveS);
    if (rc != MOSQ_ERR_SUCCESS) return *why = failure(rc), false;
    const auto started = Clock::now();
    bool wasUp = false;
    while (true) {
      rc = mosquitto_loop(m, kLoopMs, 1);
      std::unique_lock lock(mu_);
      if (refused_) return *why = mosquitto_connack_string(refused_), false;
      if (rc != MOSQ_ERR_SUCCESS) return *why = failure(rc), wasUp;
      if (!up_) {
        if (Clock::now() - started > kConnectWait) return *why = "no answer from the broker", false;
        continue;
      }
      if (!wasUp) {
        wasUp = true;
        lock.unlock();  // not held while the state is told
        tell(true);
        lock.lock();
      }
      const auto now = Clock::now();
      const bool timeUp = finishing_ && now >= finishBy_;
      if (!timeUp) {
        send(m);
        keepOffsets(false);
      }
      const bool queueChanged = told_.queued != queuedLocked();
      if (statusDue_ && statusMid_ < 0 && (finishing_ || now - statusSent_ >= kStatusEvery)) publishStatus(m);
      // The end: every line and the last status acknowledged, or the time up.
      if (finishing_ && ((queuedLocked() == 0 && !statusDue_ && statusMid_ < 0) || timeUp)) {
        done_ = true;
        mosquitto_disconnect(m);  // no last will: the status says stopped
        lock.unlock();
        tell(true);
        return true;
      }
      lock.unlock();
      if (queueChanged) tell();
    }
  }

  std::string failure(int rc) const {
    return rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : std::string(mosquitto_strerror(rc));
  }

  void connected(int rc) {
    std::lock_guard lock(mu_);
    if (rc != 0)
      refused_ = rc;
    else
      up_ = true;
  }

  void acknowledged(int mid) {
    std::lock_guard lock(mu_);
    if (mid == statusMid_) {
      statusMid_ = -1;
      return;
    }
    for (InFlight& f : inFlight_)
      if (f.mid == mid) f.acked = true;
    if (sources_.empty()) return;
    Source& s = sources_.front();
    while (!inFlight_.empty() && inFlight_.front().acked) {
      s.acked = inFlight_.front().end;
      if (s.queued) --s.queued;
      inFlight_.pop_front();
    }
    ackedSome_ = true;
  }

  // Lines on disk past what is in flight, up to the window; a file sent
  // whole gives way to the next.
  void send(mosquitto* m) {
    while (!sources_.empty()) {
      Source& s = sources_.front();
      if (s.acked == s.onDisk && sources_.size() > 1) {
        keepOffset(s);
        sources_.pop_front();
        continue;
      }
      if (inFlight_.size() >= kWindow || s.sent >= s.onDisk) return;
      if (!readFrom(s)) return;
      while (inFlight_.size() < kWindow && !pending_.empty()) {
        const auto& [end, line] = pending_.front();
        int mid = 0;
        const int rc =
            mosquitto_publish(m, &mid, recordTopic_.c_str(), static_cast<int>(line.size()), line.data(), 1, false);
        if (rc != MOSQ_ERR_SUCCESS) return;  // the loop finds the connection lost
        inFlight_.push_back({mid, end});
        s.sent = pendingStart_ = end;
        pending_.pop_front();
      }
      if (inFlight_.size() >= kWindow || !pending_.empty()) return;
    }
  }

  // The next lines of the record after s.sent, into pending_; false when
  // there is none (or the file cannot be read now).
  bool readFrom(const Source& s) {
    if (!pending_.empty() && pendingPath_ == s.path && pendingStart_ == s.sent) return true;
    pending_.clear();
    pendingPath_ = s.path, pendingStart_ = s.sent;
    std::FILE* f = openFile(s.path, "rb");
    if (!f) return false;
    std::string chunk(static_cast<std::size_t>(std::min<std::uint64_t>(s.onDisk - s.sent, 256 * 1024)), '\0');
    chunk.resize(seek(f, s.sent) ? std::fread(chunk.data(), 1, chunk.size(), f) : 0);
    std::fclose(f);
    for (std::size_t from = 0, nl; (nl = chunk.find('\n', from)) != std::string::npos; from = nl + 1)
      pending_.emplace_back(s.sent + nl + 1, chunk.substr(from, nl - from));
    return !pending_.empty();
  }

  void keepOffset(Source& s) {
    if (s.kept == s.acked) return;
    nlohmann::json j{{"offset", s.acked}, {"file", fileIdentity(s.path)}};
    if (!writeWhole(sentFileOf(s.path), j.dump() + "\n")) s.kept = s.acked;
  }
  void keepOffsets(bool now) {
    if (!now && (!ackedSome_ || Clock::now() - offsetKept_ < kKeepOffset)) return;
    offsetKept_ = Clock::now();
    ackedSome_ = false;
    for (Source& s : sources_) keepOffset(s);
  }

  std::string statusText(const char* state) const {
    nlohmann::ordered_json j{{"station", setup_.station}, {"state", state}};
    if (std::string(state) != "offline")
      for (const char* r : {"completed", "failed", "stopped"}) j[r] = totals_.count(r) ? totals_.at(r) : 0;
    j["time"] = timestamp(std::chrono::system_clock::now(), Zone::Utc);
    return j.dump();
  }
  void publishStatus(mosquitto* m) {
    const std::string text = statusText(running_ ? "running" : "stopped");
    int mid = 0;
    if (mosquitto_publish(m, &mid, statusTopic_.c_str(), static_cast<int>(text.size()), text.data(), 1, true) !=
        MOSQ_ERR_SUCCESS)
      return;
    statusMid_ = mid, statusDue_ = false, statusSent_ = Clock::now();
  }

  const PublishSetup setup_;
  const Broker broker_;
  const std::string user_, password_;
  const std::function<void(const BrokerState&)> changed_;
  const std::string recordTopic_, statusTopic_;

  std::mutex mu_;
  std::condition_variable wake_;
  std::deque<Source> sources_;  // the first is being sent
  std::deque<InFlight> inFlight_;
  std::deque<std::pair<std::uint64_t, std::string> > pending_;  // read, not yet sent: (end, line)
  std::string pendingPath_;
  std::uint64_t pendingStart_ = 0;  // where the first pending line starts
  std::map<std::string, std::size_t> totals_;
  BrokerState state_, told_;
  bool up_ = false, finishing_ = false, done_ = false, statusDue_ = true, ackedSome_ = false, running_ = true;
  int refused_ = 0, statusMid_ = -1;
  Clock::time_point finishBy_{}, offsetKept_{}, statusSent_{};
  std::thread thread_;
};

}  // namespace

std::unique_ptr<Publisher> Publisher::start(const PublishSetup& setup, const std::vector<std::string>& backlog,
                                            std::function<void(const BrokerState&)> changed, std::string* why) {
  const std::optional<Broker> broker = parseBroker(setup.url, why);
  if (!broker || !goodStationName(setup.station, why)) return nullptr;
  std::string user, password;
  if (!setup.authFile.empty()) {
    const std::optional<std::string> text = readSecretFile(setup.authFile, why);
    if (!text) return nullptr;
    const std::size_t nl = text->find('\n');
    user = text->substr(0, nl);
    password = nl == std::string::npos ? std::string() : text->substr(nl + 1);
    if (const std::size_t end = password.find_first_of("\r\n"); end != std::string::npos) password.resize(end);
    if (!user.empty() && user.back() == '\r') user.pop_back();
    if (user.empty()) return *why = setup.authFile + ": the first line must be the user's name", nullptr;
  }
#if !ISP_MQTT_TLS
  if (broker->tls) return *why = "this build has no TLS (mqtts://): publish to mqtt:// here", nullptr;
#endif
  if (!setup.caFile.empty()) {
    std::FILE* f = openFile(setup.caFile, "rb", why);
    if (!f) return *why = setup.caFile + ": " + *why, nullptr;
    std::fclose(f);
  }
  static std::once_flag library;
  std::call_once(library, [] { mosquitto_lib_init(); });
  auto p = std::make_unique<MosquittoPublisher>(setup, *broker, user, password, std::move(changed));
  for (const std::string& record : backlog) p->resume(record);
  p->begin();
  return p;
}

#endif

}  // namespace isp::production
