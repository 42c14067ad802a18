#pragma once
// The simulator's end of the serial line: the master side of a pseudo-terminal it
// creates, or a real port. Only this file and Line.cpp touch descriptors.

#include <memory>
#include <string>
#include <string_view>

namespace orderlink::basesim {

class Line {
 public:
  virtual ~Line() = default;
  // Descriptor to watch for input.
  [[nodiscard]] virtual int Fd() const = 0;
  // Appends what is buffered to `out`. False once the other end has hung up.
  [[nodiscard]] virtual bool Read(std::string& out) = 0;
  // Writes all of `bytes`. False on failure.
  virtual bool Write(std::string_view bytes) = 0;
  // True when poll()'s revents tell that the other end is gone.
  [[nodiscard]] virtual bool HungUp(short revents) const = 0;
};

// A pseudo-terminal pair in raw mode; `slavePath` receives the device the program
// opens. The slave stays open here until the first byte arrives from the program,
// so that the line does not count as hung up before the program has opened it.
[[nodiscard]] std::unique_ptr<Line> OpenPty(std::string* slavePath, std::string* error);

// A serial device (or a pty made elsewhere), 19200 8N1 raw.
[[nodiscard]] std::unique_ptr<Line> OpenDevice(const std::string& path, std::string* error);

}  // namespace orderlink::basesim
