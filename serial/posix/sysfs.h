#pragma once
#include <string>

// What the kernel tells of a serial device node through sysfs. The root is
// given so that tests can lay out a tree of their own.
namespace isp::sysfs {

// True for a ttyS node whose UART slot has no hardware behind it: such a
// node is never opened, so probing disturbs nothing there.
bool emptyUartSlot(const std::string& root, const std::string& node);

// "USB 0403:6001, FTDI, FT232R USB UART, serial A50285BI" for a node of a USB
// adapter, with the parts the device does not report left out; empty when
// the node is not on USB.
std::string usbAdapter(const std::string& root, const std::string& node);

}  // namespace isp::sysfs
