#include "production/line_view.h"

#include <algorithm>
#include <charconv>

#include "link/protocol.h"
#include "link/result_codes.h"
#include "production/system_words.h"
#include "production/timestamp.h"
#include "programming/messages.h"

namespace isp::production {

namespace {

using Kind = PortState::Kind;

// "HH:MM:SS" in local time.
std::string clockOf(std::chrono::system_clock::time_point t) { return timestamp(t, Zone::Local).substr(11, 8); }

// A failure stays red when its device is unplugged: the operator must see it.
bool failed(std::optional<Outcome::Kind> end) { return end == Outcome::NotCompleted || end == Outcome::NotIdentified; }

TileKind kindOf(const PortState& s, std::optional<Outcome::Kind> before) {
  switch (s.kind) {
    case Kind::Waiting:
      switch (s.reason) {
        case WaitReason::NotLookedAt: return TileKind::Checking;
        case WaitReason::NoAdapter: return TileKind::NoAdapter;
        case WaitReason::CannotOpen: return TileKind::CannotOpen;
        case WaitReason::Held: return TileKind::Held;
        case WaitReason::NotInProgrammingMode: return TileKind::NotReady;
        case WaitReason::DamagedReplies: return TileKind::DamagedReplies;
        case WaitReason::NoAnswer: return TileKind::NoAnswer;
      }
      break;
    case Kind::Identifying: return TileKind::Identifying;
    case Kind::Programming: return TileKind::Programming;
    case Kind::Ended: return endWords(s.outcome, s.failedRecord, s.code, {}).kind;
    case Kind::Gone: return failed(before) ? TileKind::Failed : TileKind::Unplugged;
  }
  return TileKind::Checking;
}

// Seconds to a tenth, with a point whatever the locale.
std::string tenths(double seconds) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, std::max(seconds, 0.0), std::chars_format::fixed, 1);
  return std::string(text, r.ptr) + " с";
}

std::string lower(std::string s) {
  // The result texts begin with one capital letter, Cyrillic or Latin.
  if (s.size() >= 2 && static_cast<unsigned char>(s[0]) == 0xD0) {
    const auto c = static_cast<unsigned char>(s[1]);
    if (c >= 0x90 && c <= 0x9F)
      s[1] = static_cast<char>(c + 0x20);  // А..П
    else if (c >= 0xA0 && c <= 0xAF)
      s[0] = static_cast<char>(0xD1), s[1] = static_cast<char>(c - 0x20);  // Р..Я
  } else if (!s.empty() && s[0] >= 'A' && s[0] <= 'Z') {
    s[0] = static_cast<char>(s[0] - 'A' + 'a');
  }
  return s;
}

// What a result code means, in words that follow a colon: a code the log
// has no words for is the device's own, and said as such.
std::string causeWords(std::int32_t code) {
  const std::string text = msg::resultText(code);
  return text == std::string(msg::kError) + std::to_string(code) ? "код устройства " + std::to_string(code)
                                                                 : lower(text);
}

}  // namespace

EndWords endWords(Outcome::Kind outcome, int failedRecord, std::int32_t code, const std::string& clock) {
  switch (outcome) {
    case Outcome::Completed: return {TileKind::Completed, "завершено в " + clock, "завершено"};
    case Outcome::NotCompleted:
      return {TileKind::Failed,
              failedRecord < 0 ? msg::resultText(code) : msg::recordError(code, failedRecord) + ": " + causeWords(code),
              msg::recordError(code, failedRecord)};
    case Outcome::NotIdentified:
      return {TileKind::Failed,
              code == rc::kNotInProgrammingMode ? "устройство" + std::string(msg::kNotReadyForProgramming)
                                                : msg::resultText(code),
              "не опознано"};
    case Outcome::Stopped: break;
  }
  return {TileKind::Stopped, std::string(msg::kTransferStopped), "остановлено"};
}

std::uint32_t tileColour(TileKind kind) {
  switch (kind) {
    // None is a window's own grey: a tile never looks like an empty slot.
    case TileKind::Checking: return 0xdfe4ea;
    case TileKind::NoAdapter: return 0xcfcfcf;
    case TileKind::CannotOpen: return 0xe2c6f2;
    case TileKind::Held: return 0xf7cf9a;
    case TileKind::NotReady: return 0xa9e4dd;
    case TileKind::DamagedReplies: return 0xe3c9a8;
    case TileKind::NoAnswer: return 0xf3ead2;
    case TileKind::Identifying: return 0xfff1a8;
    case TileKind::Programming: return 0xb9d7ff;
    case TileKind::Completed: return 0xb5e6ad;
    case TileKind::Failed: return 0xf5b3b3;
    case TileKind::Stopped: return 0xe8d0e0;
    case TileKind::Unplugged: return 0xd9d4cc;
  }
  return 0xdfe4ea;
}

std::string Tile::description() const {
  std::string d = state;
  if (!detail.empty()) d += ": " + detail;
  if (!previous.empty()) d += "; " + previous;
  return d;
}

std::string LineView::stateWords(const PortState& s, std::optional<Outcome::Kind> before, const std::string& clock) {
  switch (s.kind) {
    case Kind::Waiting:
      switch (s.reason) {
        case WaitReason::NotLookedAt: return "проверка порта";
        case WaitReason::NoAdapter: return "нет адаптера";
        case WaitReason::CannotOpen: return "порт не открывается";
        case WaitReason::Held: return "порт занят другой программой";
        case WaitReason::NotInProgrammingMode:
          return std::string(msg::kDevice) + msg::escapeControls(s.detail) + std::string(msg::kNotReadyForProgramming);
        case WaitReason::DamagedReplies: return "ответ устройства искажён: " + causeWords(s.code);
        case WaitReason::NoAnswer: return "ожидание устройства: нет ответа";
      }
      break;
    case Kind::Identifying: return "опознание устройства";
    case Kind::Programming:
      return "программирование, блок " + std::to_string(std::max(s.records - 1, 0)) + " из " +
             std::to_string(wire::kDataRecords);
    case Kind::Ended: return endWords(s.outcome, s.failedRecord, s.code, clock).tile;
    case Kind::Gone:
      if (before == Outcome::NotCompleted) return "отключено во время программирования";
      if (before == Outcome::NotIdentified) return "отключено до опознания";
      return "устройство отключено";
  }
  return {};
}

std::vector<std::string> tileNames(const std::vector<std::string>& ports) {
  const auto lastPart = [](const std::string& port) {
    const std::size_t slash = port.rfind('/');
    return slash == std::string::npos ? port : port.substr(slash + 1);
  };
  std::vector<std::string> names;
  std::string common;  // the beginning every path's last part shares
  int paths = 0;
  for (const std::string& port : ports) {
    names.push_back(lastPart(port));
    if (port.find('/') == std::string::npos) continue;
    if (++paths == 1) {
      common = names.back();
      continue;
    }
    common.erase(std::mismatch(common.begin(), common.end(), names.back().begin(), names.back().end()).first,
                 common.end());
  }
  // Cut where the name's own parts meet: "1.2:1.0-port0", never "2:1.0-port0".
  const std::size_t cut = paths < 2 ? 0 : common.find_last_of("-_:") + 1;
  for (std::size_t i = 0; i < ports.size(); ++i)
    if (cut > 0 && ports[i].find('/') != std::string::npos && names[i].size() > cut) names[i].erase(0, cut);
  return names;
}

int gridColumns(std::size_t tiles) {
  int columns = 1;
  while (static_cast<std::size_t>(columns) * static_cast<std::size_t>(columns) < tiles) ++columns;
  return columns;
}

LineView::LineView(const std::vector<PortEntry>& ports, std::function<void()> wake, Now now)
    : wake_(std::move(wake)), now_(std::move(now)) {
  std::vector<std::string> given;
  for (const PortEntry& p : ports) given.push_back(p.port);
  const std::vector<std::string> names = tileNames(given);
  for (const PortEntry& p : ports) {
    // A device path is shown by what tells it from the others; the whole path goes beside it.
    const bool path = p.port.find('/') != std::string::npos;
    Tile t{.port = p.port,
           .name = msg::escapeControls(names[tiles_.size()]),
           .where = msg::escapeControls(path ? p.port + " " + p.adapter : p.adapter),
           .shown = !p.untilThere};
    index_[p.port] = tiles_.size();
    t.state = stateWords({}, std::nullopt, {});
    tiles_.push_back(std::move(t));
  }
  ended_.assign(tiles_.size(), std::nullopt);
  outcome_.assign(tiles_.size(), {});
}

// On a port's thread. A run of progress counts is one change, the newest,
// so that a busy line cannot flood the window.
void LineView::changed(const PortState& state) {
  tell([&](Told& told) {
    std::vector<PortState>& queue = told.states[state.port];
    if (!queue.empty() && queue.back().kind == Kind::Programming && state.kind == Kind::Programming)
      queue.back() = state;
    else
      queue.push_back(state);
  });
}

void LineView::finished(const JobResult& job, const FileError& recordError) {
  tell([&](Told& told) { told.ended.emplace_back(job, recordError); });
}

// The window is woken for the first of a batch only: it takes them all.
void LineView::tell(const std::function<void(Told&)>& add) {
  bool wake;
  {
    std::lock_guard lock(mu_);
    add(told_);
    wake = !std::exchange(told_.woken, true);
  }
  if (wake && wake_) wake_();
}

LineView::Update LineView::update() {
  Told told;
  {
    std::lock_guard lock(mu_);
    told = std::exchange(told_, {});
  }
  Update out;
  for (const auto& [port, states] : told.states) {
    const auto it = index_.find(port);
    if (it == index_.end()) continue;
    Tile& tile = tiles_[it->second];
    const bool hidden = !tile.shown;
    for (const PortState& s : states) {
      show(it->second, s);
      tile.shown = tile.shown || s.kind != Kind::Waiting ||
                   (s.reason != WaitReason::NoAdapter && s.reason != WaitReason::NotLookedAt);
    }
    out.appeared = out.appeared || (hidden && tile.shown);
    out.tiles.push_back(it->second);
  }
  for (const auto& [job, recordError] : told.ended) addRow(job, recordError, out);
  return out;
}

void LineView::show(std::size_t i, const PortState& s) {
  Tile& tile = tiles_[i];
  const std::string words = stateWords(s, ended_[i], clockOf(now_()));
  tile.kind = kindOf(s, ended_[i]);
  // What the system said of a port that cannot be had, under the words.
  const bool why = s.kind == Kind::Waiting && (s.reason == WaitReason::CannotOpen || s.reason == WaitReason::Held);
  tile.detail = why ? portWords(s.status) : std::string();
  // A device's end stays in view until the next one is identified: an
  // unplug in the middle is not lost to the waiting.
  std::string& outcome = outcome_[i];
  if (s.kind == Kind::Ended) outcome = words, ended_[i] = s.outcome;
  if (s.kind == Kind::Gone && failed(ended_[i])) outcome = words + ", " + outcome;
  if (s.kind == Kind::Identifying) outcome.clear(), ended_[i].reset();
  tile.previous = s.kind == Kind::Waiting && !outcome.empty() ? "предыдущее: " + outcome : std::string();
  tile.state = words;
  tile.device = msg::escapeControls(s.device);
  tile.records = s.records;
}

void LineView::addRow(const JobResult& job, const FileError& recordError, Update& out) {
  if (recordError)
    out.alarms.push_back("Строка отчёта для " + msg::escapeControls(job.port) +
                         " не записана: " + fileWords(recordError));
  tally_.add(job.result);
  rows_.push_front({.time = clockOf(job.ended),
                    .port = msg::escapeControls(job.port),
                    .device = msg::escapeControls(job.device),
                    .result = endWords(job.result, job.failedRecord, job.code, {}).row,
                    .seconds = tenths(std::chrono::duration<double>(job.ended - job.started).count()),
                    .recorded = recordError ? "НЕ ЗАПИСАНО: " + fileWords(recordError) : "записано",
                    .notRecorded = static_cast<bool>(recordError)});
  if (rows_.size() > kShownRows) rows_.pop_back();
  out.rows = true;
}

std::string LineView::totals(std::chrono::milliseconds running) const {
  const long long s = running.count() / 60000 * 60;  // whole minutes: a line at rest redraws once a minute
  const int devices = tally_.completed + tally_.failed;
  std::string perHour = "—";
  if (s >= 60) {
    char text[32];
    const auto r =
        std::to_chars(text, text + sizeof text, devices * 3600.0 / static_cast<double>(s), std::chars_format::fixed, 1);
    perHour.assign(text, r.ptr);
  }
  const long long minutes = s / 60 % 60;
  return "Завершено: " + std::to_string(tally_.completed) + "    С ошибкой: " + std::to_string(tally_.failed) +
         "    Остановлено: " + std::to_string(tally_.stopped) + "    Устройств в час: " + perHour +
         "    С начала: " + std::to_string(s / 3600) + " ч " + (minutes < 10 ? "0" : "") + std::to_string(minutes) +
         " мин";
}

bool LineView::programming() const {
  return std::any_of(tiles_.begin(), tiles_.end(),
                     [](const Tile& t) { return t.kind == TileKind::Identifying || t.kind == TileKind::Programming; });
}

}  // namespace isp::production
