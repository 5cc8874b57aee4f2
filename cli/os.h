#pragma once
#include <memory>
#include <string>
#include <vector>

#include "clock.h"
#include "serial_port.h"

// What isp-flash needs from the operating system; one file per system.
namespace isp::cli {

// The command line in UTF-8; standard output and error set up to show it.
std::vector<std::string> startProgram(int argc, char** argv);

// The serial ports: all of COM1 to COM20, or only the device at `path`.
std::unique_ptr<SerialPlatform> serialPlatform(const std::string& path = {});

// From now on the user's interrupt (Ctrl-C and its kin) asks the transfer to
// stop, like the Stop button.
void installStopHandlers();
// 0 until a stop is asked for; then the exit status of a stopped run.
int stopStatus();
// Sleeps until t on the steady clock, or until a stop is asked for.
void sleepUntil(TimePoint t);

// Whether standard error is a terminal that can show the progress line.
bool stderrShowsProgress();

// This machine's name, for the production record.
std::string hostName();
// Appends text to the file at path in one write and waits until it is on
// disk; false, with the reason in *error, when it could not be.
bool appendDurably(const std::string& path, const std::string& text, std::string* error);
// The path made absolute, for a record read far from where it was written.
std::string absolutePath(const std::string& path);

}  // namespace isp::cli
