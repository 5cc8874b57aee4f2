// The stand-in's frames: each one taken from the line, answered by the
// device, and the image written once the last record is in.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/protocol.h"
#include "serial/posix/path_walk.h"
#include "serial/serial_port.h"
#include "sim/simulator.h"

namespace isp::sim {

using SteadyTime = std::chrono::steady_clock::time_point;
using std::chrono::steady_clock;

void Simulator::fault(const std::string& what) {
  std::lock_guard lock(mu_);
  device_.fault(what);
}

void Simulator::processFrames() {
  while (pending_.size() >= wire::kHeaderSize && line_.master) {
    const std::size_t n = wire::lengthField(pending_.data());
    if (n < 4 || n > Device::kMaxLengthField) {
      fault("length field " + std::to_string(n) + " out of range; " + std::to_string(pending_.size()) +
            " bytes dropped");
      pending_.clear();
      acceptedAt_.clear();
      return;
    }
    const std::size_t size = wire::kHeaderSize + n;
    if (pending_.size() < size) return;
    const SteadyTime complete = acceptedAt_[size - 1];
    std::vector<std::uint8_t> f(pending_.begin(), pending_.begin() + static_cast<long>(size));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(size));
    acceptedAt_.erase(acceptedAt_.begin(), acceptedAt_.begin() + static_cast<long>(size));
    if (opt_.baud > 0 && !sleepInterruptible(complete)) return;
    Response r;
    std::size_t records = 0;
    {
      std::lock_guard lock(mu_);
      const std::size_t before = device_.records().size();
      r = device_.handle(f);
      records = device_.records().size();
      if (records == before) records = 0;
    }
    // Lets whoever watches the line act at a given record (a test unplugging an adapter).
    if (opt_.verbose && log_) log_(records > 0 ? "record " + std::to_string(records - 1) : "frame");
    // Each transfer that completes the image writes it anew, before the
    // last reply: whoever got that reply finds the whole image in place.
    if (records == kRecords) writeImage();
    const auto replied = respond(r);
    answered(f, r, complete, replied, records);
  }
}

std::optional<SteadyTime> Simulator::respond(const Response& r) {
  std::optional<SteadyTime> first;
  if (r.hangup) {
    hangUp();
  } else if (r.delay.count() > 0 && !sleepInterruptible(steady_clock::now() + r.delay)) {
    return first;
  } else if (!r.bytes.empty()) {
    first = std::max(steady_clock::now(), lineFree_);
    writePaced(r.bytes);
  }
  ++framesAnswered_;
  return first;
}

// How late the reply went, measured from the request's last byte on the
// line: past the program's wait for a reply's first byte, the stand-in is
// the one that was late, not the program.
void Simulator::answered(const std::vector<std::uint8_t>& request, const Response& r, SteadyTime complete,
                         std::optional<SteadyTime> replied, std::size_t record) {
  const double allowed = static_cast<double>(LineSettings{}.readTotal.count());
  const double ms = replied ? std::chrono::duration<double, std::milli>(*replied - complete).count() : -1;
  char after[64];
  std::snprintf(after, sizeof after, "%.1f ms after the request's last byte", ms);
  const std::string what = record > 0 ? "record " + std::to_string(record - 1) : "frame";
  if (Trace* t = opt_.trace) {
    t->say(line_.path, "request " + hexBytes(request) + ": " + frameWords(request));
    if (replied)
      t->say(line_.path, "reply " + hexBytes(r.bytes) + ", " + after);
    else
      t->say(line_.path, r.hangup ? "hung up instead of a reply" : "no reply");
  }
  if (opt_.verbose && log_ && ms > allowed)
    log_("late reply to " + what + ": " + after + "; the program waits " + std::to_string(static_cast<int>(allowed)) +
         " ms");
}

namespace {
// The image beside its final name, in a file only we can have made, then
// renamed over it: a link or file planted at any name is never written
// through, and a reader never sees half an image.
bool writeReplacing(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string* why) {
  const WalkedPath folder = openFolderOf(path);
  if (!folder.fd) return *why = folder.why, false;
  WalkedPath file = createUnguessable(folder.fd.get(), "." + folder.name + ".", 0644);
  if (!file.fd) return *why = file.why, false;
  std::size_t done = 0;
  errno = 0;
  while (done < bytes.size()) {
    const ssize_t k = ::write(file.fd.get(), bytes.data() + done, bytes.size() - done);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) break;
    done += static_cast<std::size_t>(k);
  }
  if (done < bytes.size() || ::fsync(file.fd.get()) != 0 ||
      ::renameat(folder.fd.get(), file.name.c_str(), folder.fd.get(), folder.name.c_str()) != 0) {
    *why = std::strerror(errno ? errno : EIO);
    ::unlinkat(folder.fd.get(), file.name.c_str(), 0);
    return false;
  }
  return true;
}
}  // namespace

void Simulator::writeImage() {
  imageWritten_ = true;
  if (opt_.imagePath.empty()) return;
  std::string why;
  const bool ok = writeReplacing(opt_.imagePath, image(), &why);
  imageLost_ = !ok;
  if (log_) log_(ok ? "image written to " + opt_.imagePath : "cannot write " + opt_.imagePath + ": " + why);
}

void Simulator::arm(const DeviceOptions& options) {
  std::lock_guard lock(mu_);
  device_.arm(options);
}

std::vector<std::uint8_t> Simulator::image() const {
  std::lock_guard lock(mu_);
  return device_.image();
}

std::size_t Simulator::recordCount() const {
  std::lock_guard lock(mu_);
  return device_.records().size();
}

std::vector<std::string> Simulator::faults() const {
  std::lock_guard lock(mu_);
  return device_.faults();
}

int Simulator::framesHandled() const {
  std::lock_guard lock(mu_);
  return device_.framesHandled();
}

}  // namespace isp::sim
