#pragma once
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "production/image_file.h"
#include "production/line_view.h"
#include "production/record.h"
#include "production/station.h"

// A line of ports run for a window, the same in every window: the record
// opened before any device is touched, the station on a thread of its own,
// the view of the line it tells, and the stop. The window draws the view
// when woken and calls finish() when told the station has ended.
namespace isp::production {

struct LineRunSetup {
  std::vector<PortEntry> ports;  // as chosen: COMn names or device paths
  std::string report;            // the record's file; its folder is made if need be
  // Else, when given, the record's folder (made if need be): one file a
  // day, each line in the file of the local date it is written on.
  std::string reportFolder{};
  milliseconds period{kDefaultIntervalMs};
  PlatformFor platformFor = production::platformFor;
  std::function<void()> wake{};   // on a port's thread: the view has news for the window
  std::function<void()> ended{};  // on the station's thread: time to call finish()
  SetUpBy setUp{};                // operator mode: the line every record line names
  // Told of each line on disk: ProductionRecord::onRecorded.
  std::function<void(const RecordFile::End&, const std::string&)> recorded{};
};

class LineRun {
 public:
  // Nothing, with why in the window's words, when the image cannot be
  // programmed, no port is chosen, two names stand for one device, the
  // report is the firmware file, or the record cannot be kept; no device
  // has been touched then.
  static std::unique_ptr<LineRun> start(LineRunSetup setup, std::shared_ptr<const ImageFile> image, std::string* why);
  ~LineRun();  // stops the line and waits for it

  LineView& view() { return view_; }
  const LineView& view() const { return view_; }
  // Asks every transfer to end as Stop does in the dialog; ended() follows.
  void stop() { stop_.request_stop(); }
  // Waits until the line has ended with every report line written; false
  // when the record lacks a device's line. The view stays for the window.
  bool finish();
  bool running() const { return thread_.joinable(); }

 private:
  LineRun(LineRunSetup setup, std::shared_ptr<const ImageFile> image, std::unique_ptr<RecordFile> file);

  LineRunSetup setup_;
  std::shared_ptr<const ImageFile> image_;
  ProductionRecord record_;
  LineView view_;
  std::stop_source stop_;
  std::unique_ptr<Station> station_;
  std::thread thread_;
};

}  // namespace isp::production
