#include "link/TracingPort.h"

namespace orderlink {

TracingPort::TracingPort(std::unique_ptr<SerialPort> port, std::shared_ptr<FrameTrace> trace)
    : port_(std::move(port)), trace_(std::move(trace)) {}

bool TracingPort::Write(std::string_view bytes) {
  const bool written = port_->Write(bytes);
  if (written) trace_->Record(TraceDirection::Outbound, bytes);
  return written;
}

ReadOutcome TracingPort::Read(std::string& out, std::size_t maxBytes) {
  const ReadOutcome outcome = port_->Read(out, maxBytes);
  if (!out.empty()) trace_->Record(TraceDirection::Inbound, out);
  return outcome;
}

}  // namespace orderlink
