#pragma once
// The serial line to the base stations. One implementation talks to a device
// through termios (TermiosPort.cpp); tests use a fake that records what is written.
//
// Threads: Write, OutputPending and DiscardOutput are called by the send thread and
// by the poll timer thread, always under the send thread's lock. ReadAll is called
// by the window thread only. Open/Close happen on the window thread while no worker
// writes.

#include <memory>
#include <string>
#include <string_view>

namespace orderlink {

enum class ReadOutcome {
  Ok,      // `out` holds every byte that was buffered (possibly none)
  HungUp,  // the device hung up or failed; reported once, the caller stops watching
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  [[nodiscard]] virtual bool IsOpen() const = 0;
  // Appends bytes to the output. False on failure (callers ignore it, as the line does).
  virtual bool Write(std::string_view bytes) = 0;
  virtual ReadOutcome ReadAll(std::string& out) = 0;
  // Bytes written but not yet sent on the line.
  [[nodiscard]] virtual int OutputPending() = 0;
  virtual void DiscardOutput() = 0;
  // File descriptor that becomes readable when bytes arrive; -1 when closed.
  [[nodiscard]] virtual int Handle() const = 0;
  virtual void Close() = 0;
};

// Device of COM port `n` (1..9): $ORDERLINK_COM<n> when set, else COM<n> of the
// settings file (ConfiguredComDevice), else /dev/ttyS<n-1>.
[[nodiscard]] std::string ComDevicePath(int n);

// Opens `device` raw, 19200 8N1, no flow control, both buffers emptied.
// On failure returns nullptr and sets `error` to a one-line reason.
[[nodiscard]] std::unique_ptr<SerialPort> OpenSerialPort(const std::string& device,
                                                         std::string* error);

}  // namespace orderlink
