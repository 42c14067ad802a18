// Frames for the PC: a handset's message cut into packets (with an injected fault
// when one was picked), kept in order of due time until the line takes them.
// Noise bursts and a message cut short by a vanishing handset are made here too.

#include <algorithm>

#include "BaseStation.h"
#include "StationText.h"
#include "link/FrameCodec.h"

namespace orderlink::basesim {

void BaseStation::QueueMessage(std::uint8_t handset, const std::string& code,
                               const std::string& content, std::int64_t dueMs,
                               std::optional<Fault> fault) {
  std::vector<std::string> packets;
  std::uint8_t address = 0xFF;
  std::uint8_t firstSequence = 1;
  if (fault == Fault::Address) address = static_cast<std::uint8_t>(handset == 5 ? 6 : 5);
  if (fault == Fault::Sequence) firstSequence = 2;
  std::size_t pos = 0;
  do {
    const std::size_t length = std::min(options_.maxBody, content.size() - pos);
    const bool more = pos + length < content.size();
    const auto sequence = static_cast<std::uint8_t>(firstSequence + packets.size());
    packets.push_back(
        LongPacket(options_.route, address, sequence, more, code, content.substr(pos, length)));
    pos += length;
  } while (pos < content.size());
  // A handset that vanishes in the middle of its message gets its first packet out.
  if (fault == Fault::Vanish && packets.size() > 1) packets.resize(1);
  for (const auto& packet : packets) {
    if (packet.find(std::string_view("\0\0\0", 3), 3) != std::string::npos) {
      Problem("internal: a frame of handset " + Number3(handset) + " holds three zero bytes");
    }
  }
  std::string what = "[" + code + "] from " + Number3(handset) + " \"" +
                     Show(content.substr(std::min<std::size_t>(1, content.size()))) + "\"";
  if (fault == Fault::Garbage) {
    std::string garbage;
    const int n = std::uniform_int_distribution<int>(3, 20)(random_);
    for (int i = 0; i < n; ++i)
      garbage.push_back(static_cast<char>(std::uniform_int_distribution<int>(0x20, 0x7E)(random_)));
    Queue(Outgoing{dueMs, {garbage}, "fault: garbage " + Hex(garbage), false});
  } else if (fault == Fault::Burst) {
    // Line noise: any byte values, as a disturbed line delivers them.
    std::string noise;
    for (std::size_t i = 0; i < options_.burstBytes; ++i)
      noise.push_back(static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random_)));
    Queue(Outgoing{
        dueMs, {noise}, "fault: noise burst of " + std::to_string(noise.size()) + " bytes", false});
  } else if (fault == Fault::Crc) {
    const std::string crc = LongPacket(options_.route, 0xFF, 1, false, "CRCE",
                                       std::string(1, static_cast<char>(handset)) + "ERR");
    Queue(Outgoing{dueMs, {crc}, "fault: \"CRC\" frame", true});
  }
  if (fault == Fault::Sequence) what = "fault: out of sequence " + what;
  if (fault == Fault::Address) what = "fault: wrong address " + what;
  if (fault == Fault::Vanish) what = "fault: handset vanishing " + what;
  for (auto& packet : packets) {
    Outgoing item{dueMs, {}, what, true};
    if (fault == Fault::Split && packet.size() > 3) {
      // The same bytes in pieces, as a slow line delivers them.
      std::size_t at = 0;
      while (at < packet.size()) {
        const std::size_t n = std::uniform_int_distribution<std::size_t>(1, 7)(random_);
        item.chunks.push_back(packet.substr(at, n));
        at += n;
      }
      item.what = "split " + what;
    } else {
      item.chunks.push_back(std::move(packet));
    }
    Queue(std::move(item));
  }
}

void BaseStation::Queue(Outgoing item) {
  auto it = std::find_if(queue_.begin(), queue_.end(),
                         [&](const Outgoing& o) { return o.dueMs > item.dueMs; });
  queue_.insert(it, std::move(item));
}

std::optional<Outgoing> BaseStation::TakeDue(std::int64_t nowMs) {
  if (queue_.empty() || queue_.front().dueMs > nowMs) return std::nullopt;
  Outgoing item = std::move(queue_.front());
  queue_.pop_front();
  if (item.framed) pcRoute_ = options_.route;
  log_.Info("tx " + item.what);
  return item;
}

std::optional<std::int64_t> BaseStation::NextDue() const {
  if (queue_.empty()) return std::nullopt;
  return queue_.front().dueMs;
}

}  // namespace orderlink::basesim
