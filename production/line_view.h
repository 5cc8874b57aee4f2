#pragma once
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "production/station.h"

// A line of ports as any window draws it, with no toolkit: the station's
// observer on one side, tiles of words, rows of the report and the totals on
// the other. The ports' threads only queue what they tell; the window, woken
// once for whatever piled up, applies it on its own thread and redraws the
// tiles that changed. Every word of the station windows is made here.
namespace isp::production {

// What colour a tile wears: one per state and per reason to wait. The words
// always say the same; colour is never alone.
enum class TileKind {
  Checking,
  NoAdapter,
  CannotOpen,
  Held,
  NotReady,
  DamagedReplies,
  NoAnswer,
  Identifying,
  Programming,
  Completed,
  Failed,
  Stopped,
  Unplugged,
};

// How a device's turn ended, in the words of each place that says it: the
// tile (with the clock it ended at), the report table's row.
struct EndWords {
  TileKind kind;
  std::string tile, row;
};
EndWords endWords(Outcome::Kind outcome, int failedRecord, std::int32_t code, const std::string& clock);

// A tile's background, 0xRRGGBB: light enough for black type to read from afar.
std::uint32_t tileColour(TileKind kind);

// One port's tile, in words ready to draw: UTF-8, control characters escaped.
struct Tile {
  std::string port{};      // as named: COM7 or a device path
  std::string name{};      // in large type: the port, a path by its last part
  std::string where{};     // beside it: the adapter, after the whole path for a path
  std::string state{};     // what happens there: the largest text after the name
  std::string detail{};    // what the system said of a port that cannot be had
  std::string previous{};  // how the last device ended, while the port waits for the next
  std::string device{};    // the device's name
  int records = 0;         // of wire::kRecords, while programming
  TileKind kind = TileKind::Checking;
  bool shown = true;  // a port of "all" is drawn once its adapter has been there
  bool programming() const { return kind == TileKind::Programming; }
  // For a screen reader after the port's name: the state, why, the last end.
  std::string description() const;
};

// A device that ended, as a row of the report table; newest first.
struct ReportRow {
  std::string time{}, port{}, device{}, result{}, seconds{}, recorded{};
  bool notRecorded = false;  // the record does not hold it: shown, and marked
};

struct PortEntry {
  std::string port{};       // as the station names it
  std::string adapter{};    // what the listing says of it; may be empty
  bool untilThere = false;  // a port of "all": its tile shows once its node has been there
};

// The large names of a line's tiles: a device path by the end of its last
// part where the line's paths begin alike (by-path and by-id names share
// long beginnings), any other name as it is.
std::vector<std::string> tileNames(const std::vector<std::string>& ports);

// How many columns a window's grid of n tiles has: as many as rows, or one more.
int gridColumns(std::size_t tiles);

class LineView final : public StationObserver {
 public:
  using Now = std::function<std::chrono::system_clock::time_point()>;
  static constexpr std::size_t kShownRows = 200;

  // wake: on a port's thread, once for each batch the window has not yet
  // taken; the window then calls update() on its own thread.
  LineView(const std::vector<PortEntry>& ports, std::function<void()> wake, Now now = std::chrono::system_clock::now);

  struct Update {
    std::vector<std::size_t> tiles;   // indexes of the tiles that changed
    bool appeared = false;            // a tile is shown that was not: the grid is laid out anew
    bool rows = false;                // rows and totals changed
    std::vector<std::string> alarms;  // a device's line not in the record: said, and kept said
  };
  // On the window's thread: everything told since the last call.
  Update update();

  const std::vector<Tile>& tiles() const { return tiles_; }
  const std::deque<ReportRow>& rows() const { return rows_; }
  // "Завершено: 3    С ошибкой: 1 ...", in whole minutes since the start.
  std::string totals(std::chrono::milliseconds running) const;
  // A device is being identified or programmed somewhere on the line.
  bool programming() const;
  const Tally& tally() const { return tally_; }

  // The state's words, given how the port's last device ended, if it has not gone.
  static std::string stateWords(const PortState& state, std::optional<Outcome::Kind> before, const std::string& clock);

 private:
  void changed(const PortState& state) override;
  void finished(const JobResult& job, const FileError& recordError) override;
  void show(std::size_t tile, const PortState& state);
  void addRow(const JobResult& job, const FileError& recordError, Update& out);

  struct Told {
    std::map<std::string, std::vector<PortState>> states;
    std::vector<std::pair<JobResult, FileError>> ended;
    bool woken = false;
  };
  void tell(const std::function<void(Told&)>& add);
  std::mutex mu_;
  Told told_;
  std::function<void()> wake_;
  Now now_;

  std::vector<Tile> tiles_;
  std::map<std::string, std::size_t> index_;
  std::vector<std::optional<Outcome::Kind>> ended_;  // per tile: how its last device ended, until the next
  std::vector<std::string> outcome_;                 // per tile: the last device's end
  std::deque<ReportRow> rows_;
  Tally tally_;
};

}  // namespace isp::production
