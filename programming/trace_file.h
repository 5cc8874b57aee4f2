#pragma once
#include <memory>
#include <string>

#include "link/trace.h"

// The trace of the wire in a file, opened as every file the user names
// (--log's rules: the path walked, 0644, appended to): --trace FILE for
// isp-flash, ISP_TRACE=FILE for the windows.
namespace isp {

// Nothing, with why in *why, when the file cannot be opened.
std::unique_ptr<Trace> openTrace(const std::string& path, std::string* why);
// The trace a window keeps when ISP_TRACE names a file; nothing when it is
// not set, or (with why in *why) when the file cannot be opened.
std::unique_ptr<Trace> environmentTrace(std::string* why);

}  // namespace isp
