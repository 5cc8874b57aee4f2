#pragma once
#include <algorithm>
#include <vector>

#include "production/port_job.h"
#include "production/stop_signal.h"

// isp-flash's exit status: the one place an outcome becomes a number.
namespace isp::cli {

// kRecordMissing: the devices did as the run hoped, but the report lacks a
// line, or could not be opened and nothing was sent.
// A stop asked for by a signal ends with 128 + its number; kInterrupted is
// that of Ctrl-C, for a stop asked otherwise.
enum Exit {
  kCompleted = 0,
  kNotCompleted = 1,
  kUsage = 2,
  kNotIdentified = 3,
  kFileError = 4,
  kRecordMissing = 5,
  kInterrupted = 130
};

// The status a run of this job's port alone ends with.
inline int exitStatus(const production::JobResult& job) {
  switch (job.result) {
    case Outcome::Completed: return kCompleted;
    case Outcome::NotCompleted: return kNotCompleted;
    case Outcome::NotIdentified: return kNotIdentified;
    case Outcome::Stopped: break;
  }
  return production::signalExitStatus() ? production::signalExitStatus() : kInterrupted;
}

// A run of several ports: 0 when every device completed, else the status
// they share, and 1 when theirs differ.
inline int combinedStatus(const std::vector<production::JobResult>& jobs) {
  int status = jobs.empty() ? kNotIdentified : exitStatus(jobs.front());
  for (const production::JobResult& j : jobs)
    if (exitStatus(j) != status) return kNotCompleted;
  return status;
}

// A station's run, which only a stop ends: a transfer the stop broke off
// gives the stop's status, as one port's run does; else 1 when a device
// did not complete, 0 when every one did (or none came).
inline int stationStatus(const std::vector<production::JobResult>& jobs) {
  const auto is = [](Outcome::Kind kind) {
    return [kind](const production::JobResult& j) { return j.result == kind; };
  };
  if (const auto stopped = std::find_if(jobs.begin(), jobs.end(), is(Outcome::Stopped)); stopped != jobs.end())
    return exitStatus(*stopped);
  return std::all_of(jobs.begin(), jobs.end(), is(Outcome::Completed)) ? kCompleted : kNotCompleted;
}

}  // namespace isp::cli
