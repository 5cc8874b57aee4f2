#pragma once
#include <string>

#include "production/os.h"
#include "serial/serial_port.h"

// What the system said of a port, a folder or a file, in the station
// windows' Russian: made from the facts the platform layer gives beside its
// English words (which stay isp-flash's and the record's), escaped for the
// screen, in UTF-8.
namespace isp::production {

// "нет места на диске", ..., "ошибка системы 1234".
std::string systemWords(SystemCause cause, int code);

// Why a port cannot be had: "нет прав доступа: ...", "занят программой с PID 42", ...
std::string portWords(const PortStatus& status);

// "<path>: нет места на диске".
std::string fileWords(const FileError& error);

}  // namespace isp::production
