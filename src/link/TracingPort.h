#pragma once
// A SerialPort that passes every call on to the port it wraps and records in a
// FrameTrace each write that went out (one frame or packet) and each non-empty read
// (one received chunk). Recording only queues bytes, so the line keeps its timing.
// Threads: as SerialPort.

#include <cstddef>
#include <memory>

#include "link/FrameTrace.h"
#include "link/SerialPort.h"

namespace orderlink {

class TracingPort final : public SerialPort {
 public:
  TracingPort(std::unique_ptr<SerialPort> port, std::shared_ptr<FrameTrace> trace);

  [[nodiscard]] bool IsOpen() const override { return port_->IsOpen(); }
  bool Write(std::string_view bytes) override;
  [[nodiscard]] ReadOutcome Read(std::string& out, std::size_t maxBytes) override;
  [[nodiscard]] int OutputPending() override { return port_->OutputPending(); }
  [[nodiscard]] int Handle() const override { return port_->Handle(); }
  void Close() override { port_->Close(); }

 private:
  std::unique_ptr<SerialPort> port_;
  std::shared_ptr<FrameTrace> trace_;  // shared: it may outlive a port that is reopened
};

}  // namespace orderlink
