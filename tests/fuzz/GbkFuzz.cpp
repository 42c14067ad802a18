// GBK helpers on any bytes: character boundaries found from the start are
// consistent, cuts and pieces never end on the first half of a character, padding
// keeps the text and reaches its width, and a text decoded once survives an
// encode/decode round trip unchanged.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "common/Gbk.h"
#include "link/FrameCodec.h"

namespace orderlink {
namespace {

// The boundary test is quadratic in the text; the first bytes say enough.
constexpr std::size_t kBoundaryCheckBytes = 512;

bool IsLead(std::string_view text, std::size_t i) {
  return IsGbkLeadByte(static_cast<unsigned char>(text[i]));
}

// Boundaries by induction: byte 0 starts a character; a character that starts with
// a lead byte takes the next byte along, and the byte after that starts the next.
void CheckBoundaries(std::string_view text) {
  text = text.substr(0, kBoundaryCheckBytes);
  bool startsCharacter = true;
  GbkBoundaryScan scan(text);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool first = startsCharacter && IsLead(text, i);
    fuzz::Require(IsFirstOfDoubleByte(text, i) == first, "first byte of a two-byte character");
    fuzz::Require(scan.IsFirstOfDoubleByte(i) == first, "the carried scan agrees with the rescan");
    startsCharacter = !first;
  }
}

void CheckCut(std::string_view text, std::size_t maxBytes) {
  const std::size_t cut = CutAtCharacter(text, maxBytes);
  if (text.size() <= maxBytes) {
    fuzz::Require(cut == text.size(), "a short text is kept whole");
    return;
  }
  fuzz::Require(cut == maxBytes || (maxBytes > 0 && cut == maxBytes - 1),
                "a cut loses at most one byte");
  fuzz::Require(cut == maxBytes - (maxBytes > 0 && IsFirstOfDoubleByte(text, maxBytes - 1) ? 1 : 0),
                "a cut drops only the first half of a character");
}

void CheckPieces(std::string_view text, std::size_t maxPiece) {
  const auto pieces = CutPieces(text, maxPiece, true);
  std::string joined;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    fuzz::Require(pieces[i].size() <= maxPiece, "a piece is at most the piece size");
    joined += pieces[i];
    if (i + 1 < pieces.size()) {
      fuzz::Require(pieces[i].size() >= maxPiece - 1, "only the last piece is short");
      fuzz::Require(!IsFirstOfDoubleByte(joined, joined.size() - 1), "a piece ends on a character");
    }
  }
  fuzz::Require(joined == text && !pieces.empty(), "the pieces are the text");
}

void CheckPadding(std::string_view text, std::size_t width) {
  const std::string right = PadRight(text, width);
  const std::string left = PadLeft(text, width);
  const std::size_t size = std::max(width, text.size());
  fuzz::Require(right.size() == size && right.compare(0, text.size(), text) == 0 &&
                    right.find_first_not_of(' ', text.size()) == std::string::npos,
                "padding on the right");
  fuzz::Require(left.size() == size && left.compare(size - text.size(), text.size(), text) == 0 &&
                    left.find_first_not_of(' ') >= size - text.size(),
                "padding on the left");
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t n = lead < 0x80             ? 1
                          : (lead & 0xE0) == 0xC0 ? 2
                          : (lead & 0xF0) == 0xE0 ? 3
                          : (lead & 0xF8) == 0xF0 ? 4
                                                  : 0;
    if (n == 0 || i + n > text.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

void CheckConversions(std::string_view bytes) {
  // Bytes read as GBK: valid UTF-8 that encodes and decodes back to itself.
  const std::string decoded = GbkToUtf8(bytes);
  fuzz::Require(IsValidUtf8(decoded), "GBK decodes to valid UTF-8");
  fuzz::Require(GbkToUtf8(Utf8ToGbk(decoded)) == decoded, "decoded text round-trips");
  // Bytes read as UTF-8: GBK that decodes and encodes back to itself.
  const std::string encoded = Utf8ToGbk(bytes);
  fuzz::Require(Utf8ToGbk(GbkToUtf8(encoded)) == encoded, "encoded text round-trips");
  // An exact encoding loses nothing: it decodes to the very input.
  if (const auto exact = Utf8ToGbkExact(bytes)) {
    fuzz::Require(*exact == encoded && GbkToUtf8(*exact) == bytes,
                  "an exact encoding decodes to its input");
  }
}

}  // namespace
}  // namespace orderlink

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orderlink;
  FuzzedDataProvider provider(data, size);
  const auto maxBytes = provider.ConsumeIntegralInRange<std::size_t>(0, 80);
  const auto maxPiece = provider.ConsumeIntegralInRange<std::size_t>(2, 80);
  const auto width = provider.ConsumeIntegralInRange<std::size_t>(0, 80);
  const auto number = provider.ConsumeIntegral<std::int32_t>();
  const std::string text = provider.ConsumeRemainingBytesAsString();

  CheckBoundaries(text);
  CheckCut(text, maxBytes);
  CheckPieces(text, maxPiece);
  CheckPadding(text, width);
  const std::string padded = ZeroPadded(number, static_cast<int>(width % 12));
  fuzz::Require(padded.size() >= width % 12 && std::stoll(padded) == number,
                "zero padding keeps the number");
  CheckConversions(text);
  return 0;
}
