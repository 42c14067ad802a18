#pragma once
// The serial line to the base stations. One implementation talks to a device
// through termios (TermiosPort.cpp); ReplaceablePort puts a device that can be
// swapped behind one pointer that the workers keep; tests use a fake that records
// what is written.
//
// Threads: Write and OutputPending are called by the send thread (its
// jobs and poll ticks) and by the base station's dialogue, always under the send
// thread's lock. Read is called by
// the window thread only. Close is called when no other thread uses the port.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "link/PortOpenError.h"

namespace orderlink {

// The most one read takes from the device: what is left stays in the kernel, which
// bounds the program's memory under a flood (the tty drops what overflows there).
inline constexpr std::size_t kMaxReadBytes = 4096;

enum class ReadOutcome {
  Ok,      // `out` holds what was buffered, up to the limit (possibly nothing)
  HungUp,  // the device hung up, failed or is gone; the caller stops watching
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  [[nodiscard]] virtual bool IsOpen() const = 0;
  // Appends bytes to the output. False on failure (callers ignore it, as the line does).
  virtual bool Write(std::string_view bytes) = 0;
  // Replaces `out` with at most `maxBytes` of what is buffered.
  [[nodiscard]] virtual ReadOutcome Read(std::string& out, std::size_t maxBytes) = 0;
  // Bytes written but not yet sent on the line.
  [[nodiscard]] virtual int OutputPending() = 0;
  // File descriptor that becomes readable when bytes arrive; -1 when closed.
  [[nodiscard]] virtual int Handle() const = 0;
  virtual void Close() = 0;

  // Everything buffered, in reads of kMaxReadBytes (the simulator's end of the line).
  [[nodiscard]] ReadOutcome ReadAll(std::string& out);
};

// Device of COM port `n` (1..9): $ORDERLINK_COM<n> when set, else COM<n> of the
// settings file (ConfiguredComDevice), else /dev/ttyS<n-1>.
// Read at every call: a changed setting or a repointed symlink counts at the next open.
struct ComDevice {
  std::string path;
  std::string origin;      // where `path` came from, for the log (English)
  std::string userOrigin;  // the same for the user (UTF-8); empty for the default device
};
[[nodiscard]] ComDevice LookUpComDevice(int n);
[[nodiscard]] std::string ComDevicePath(int n);

// Opens the device of COM port `n` as OpenSerialPort does and logs one line naming
// the port, the device, what a link resolves to, where the name came from and the
// line settings.
[[nodiscard]] std::unique_ptr<SerialPort> OpenComPort(int n, PortOpenError* error);

// Opens `device` raw, 19200 8N1, no flow control, both buffers emptied, and holds it
// exclusively (TIOCEXCL and an flock on the descriptor): a second program that opens
// the same device fails as busy. On failure returns nullptr and fills `error`.
[[nodiscard]] std::unique_ptr<SerialPort> OpenSerialPort(const std::string& device,
                                                         PortOpenError* error);
// The same with the failure as one line "<device>: <system reason>".
[[nodiscard]] std::unique_ptr<SerialPort> OpenSerialPort(const std::string& device,
                                                         std::string* error);

}  // namespace orderlink
