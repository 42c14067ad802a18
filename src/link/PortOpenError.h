#pragma once
// Why a serial device could not be opened, and the line the user reads about it.

#include <string>

namespace orderlink {

struct PortOpenError {
  std::string device;        // the path that was opened
  int code = 0;              // errno of the step that failed
  std::string systemReason;  // the system's text for `code`
  std::string group;         // group owning the device (filled for permission errors)

  // "<device>: <system reason>"
  [[nodiscard]] std::string Summary() const { return device + ": " + systemReason; }
};

// One line for the user: the device, the system's reason and what to do about it.
// The remedy names where COM<portNumber>'s device name comes from (the environment
// variable or the settings file's line, LookUpComDevice), else the setting
// ORDERLINK_COM<portNumber> that would name it.
[[nodiscard]] std::string DescribePortOpenError(const PortOpenError& error, int portNumber);

}  // namespace orderlink
