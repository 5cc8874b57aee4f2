#pragma once
#include <string>

#include "serial/serial_port.h"

// What the kernel tells of a serial device node through sysfs. The root is
// given so that tests can lay out a tree of their own.
namespace isp::sysfs {

// True for a ttyS node whose UART slot has no hardware behind it: such a
// node is never opened, so probing disturbs nothing there.
bool emptyUartSlot(const std::string& root, const std::string& node);

// The USB adapter behind a node: its ids, maker, product and serial number
// as the device reports them, and where it is plugged in; empty when the
// node is not on USB.
Adapter usbAdapter(const std::string& root, const std::string& node);

}  // namespace isp::sysfs
