#include "link/SerialPort.h"

namespace orderlink {

ReadOutcome SerialPort::ReadAll(std::string& out) {
  out.clear();
  std::string piece;
  while (true) {
    const ReadOutcome outcome = Read(piece, kMaxReadBytes);
    out += piece;
    if (outcome == ReadOutcome::HungUp) return out.empty() ? outcome : ReadOutcome::Ok;
    if (piece.size() < kMaxReadBytes) return ReadOutcome::Ok;
  }
}

}  // namespace orderlink
