#pragma once
// The catalogue of the serial line's protocol: every command code with its direction
// and meaning, the download table tags, the base station's answer signature, and the
// payload layout of the 22 request kinds field by field. Code that sends, routes or
// writes a code takes it from here; the records reference (tools/recordsdoc), the
// Wireshark dissector and the simulators are checked against it.
//
// A command code is four ASCII characters padded with blanks on the right, compared
// byte for byte. Constant data only: usable from any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace orderlink {

// Address byte of every frame a handset sends to the PC.
inline constexpr std::uint8_t kAddressPc = 0xFF;

// What a base station in configuration mode answers the PC's settings with.
inline constexpr std::array<std::uint8_t, 5> kStationAnswerSignature = {0xFF, 0xAA, 0x55, 0x32,
                                                                        0xCD};

// Codes of the PC's own frames and of the handsets' answers to them.
inline constexpr std::string_view kCodeTime = "SJCX";                 // query and answer
inline constexpr std::string_view kCodeReplyEnd = "FHJS";             // after a reply's lines
inline constexpr std::string_view kCodeShortMessage = "DX  ";         // and its confirmation
inline constexpr std::string_view kCodeRollCall = "DM  ";             // sent as short frames
inline constexpr std::string_view kCodeLinkTest = "TXCS";             // frame and its echo
inline constexpr std::string_view kCodeDownloadOpening = "QBKS";      // to all handsets
inline constexpr std::string_view kCodeDownloadEnd = "QBJS";          // to all handsets
inline constexpr std::string_view kCodeDownloadStatusQuery = "XZDM";  // to one handset
inline constexpr std::string_view kCodeDownloadComplete = "XZWC";     // its answers ...
inline constexpr std::string_view kCodeDownloadFailed = "XZSB";       //
inline constexpr std::string_view kCodeDownloadRecordsMissing = "XZCC";
inline constexpr std::string_view kCodeResendOpening = "CCKS";  // around resent records
inline constexpr std::string_view kCodeResendClosing = "CCJS";
// A code beginning with these three characters is the radio side's failure notice:
// never the start or continuation of a message.
inline constexpr std::string_view kCrcNoticePrefix = "CRC";

// Download table tags: the code of a download record frame names its table.
inline constexpr std::string_view kTagRestaurantName = "JDMC";
inline constexpr std::string_view kTagDishCategories = "CLB ";
inline constexpr std::string_view kTagSetMeals = "TCB ";
inline constexpr std::string_view kTagSetMealContents = "TCPB";
inline constexpr std::string_view kTagServingModes = "QCB ";
inline constexpr std::string_view kTagReturnReasons = "TLYB";
inline constexpr std::string_view kTagCustomerRequests = "KYQB";
inline constexpr std::string_view kTagRecommendedDishes = "TJCP";
inline constexpr std::string_view kTagRecommendedDishContents = "TJNR";
inline constexpr std::string_view kTagDishes = "CPB ";
inline constexpr std::string_view kTagStartupScreen = "KJHM";
inline constexpr std::string_view kTagConfigurationFile = "PZWJ";
inline constexpr std::string_view kTagAdminPassword = "XGMM";  // also a request code

// The download table tags in download order.
inline constexpr std::array<std::string_view, 13> kDownloadTableTags = {
    kTagRestaurantName,   kTagDishCategories,    kTagSetMeals,
    kTagSetMealContents,  kTagServingModes,      kTagReturnReasons,
    kTagCustomerRequests, kTagRecommendedDishes, kTagRecommendedDishContents,
    kTagDishes,           kTagStartupScreen,     kTagConfigurationFile,
    kTagAdminPassword};

// Request codes (handset to PC), in their fixed order; a code's kind is its position + 10.
inline constexpr std::string_view kCodeLogin = "DL  ";
inline constexpr std::string_view kCodeOpenTable = "KT  ";
inline constexpr std::string_view kCodeMoveTable = "HT  ";
inline constexpr std::string_view kCodeAskTable = "CT  ";
inline constexpr std::string_view kCodeChangeTableOpening = "XGTT";
inline constexpr std::string_view kCodeOpenReservedTable = "YDKT";
inline constexpr std::string_view kCodeAskBill = "ZDCX";
inline constexpr std::string_view kCodeGuestWish = "KHYQ";
inline constexpr std::string_view kCodePrintOrder = "DYDC";
inline constexpr std::string_view kCodeHurryDish = "CPCC";
inline constexpr std::string_view kCodeHurryTableDishes = "CLCC";
inline constexpr std::string_view kCodeHurryWholeTable = "ZZCC";
inline constexpr std::string_view kCodeTableReservation = "THYD";
inline constexpr std::string_view kCodeCategoryFree = "LBKX";
inline constexpr std::string_view kCodeTableFree = "THKX";
inline constexpr std::string_view kCodeReservations = "YDHZ";
inline constexpr std::string_view kCodeFreeTables = "KXHZ";
inline constexpr std::string_view kCodeOrderDishes = "DC  ";
inline constexpr std::string_view kCodeOrderSetMeal = "TC  ";
inline constexpr std::string_view kCodeAddDish = "JC  ";
inline constexpr std::string_view kCodeGiveDish = "ZSCP";
inline constexpr std::string_view kCodeChangePassword = "XGMM";

inline constexpr int kFirstRequestKind = 10;
inline constexpr int kLoginKind = 10;
inline constexpr std::array<std::string_view, 22> RequestCodeTable = {kCodeLogin,
                                                                      kCodeOpenTable,
                                                                      kCodeMoveTable,
                                                                      kCodeAskTable,
                                                                      kCodeChangeTableOpening,
                                                                      kCodeOpenReservedTable,
                                                                      kCodeAskBill,
                                                                      kCodeGuestWish,
                                                                      kCodePrintOrder,
                                                                      kCodeHurryDish,
                                                                      kCodeHurryTableDishes,
                                                                      kCodeHurryWholeTable,
                                                                      kCodeTableReservation,
                                                                      kCodeCategoryFree,
                                                                      kCodeTableFree,
                                                                      kCodeReservations,
                                                                      kCodeFreeTables,
                                                                      kCodeOrderDishes,
                                                                      kCodeOrderSetMeal,
                                                                      kCodeAddDish,
                                                                      kCodeGiveDish,
                                                                      kCodeChangePassword};

// The four bytes of a frame's command field as a text: it ends at the first zero
// byte, so "DC" + 00 00 gives "DC" (which matches no request code).
[[nodiscard]] std::string_view CommandText(std::string_view field);

[[nodiscard]] bool IsRequestCode(std::string_view code);
[[nodiscard]] bool IsDownloadTableTag(std::string_view code);
[[nodiscard]] constexpr bool IsCrcNotice(std::string_view code) {
  return code.substr(0, kCrcNoticePrefix.size()) == kCrcNoticePrefix;
}

// The register of the codes on the line besides the requests and table tags.
enum class CodeDirection { ToHandset, FromHandset, Both };
struct CommandCode {
  std::string_view code;
  CodeDirection direction;
  std::string_view meaning;
};
[[nodiscard]] std::span<const CommandCode> CommandCodes();

// How a request field is cut from the payload.
enum class RecordCut {
  Exact,      // the bytes as they stand, exactly the width
  UpToZero,   // a 4-byte field up to its first zero byte
  OneByte,    // a single byte
  TextToEnd,  // the bytes up to the end of the received payload, at most the width
};

// One field of a request's payload: bytes [offset, offset+width) of the payload (of
// the item, for item fields). Payload bytes 0-2 are the handset text.
struct RecordField {
  std::string_view name;  // what the handset puts there ("tableNumber")
  std::size_t offset;
  std::size_t width;
  RecordCut cut = RecordCut::Exact;
};

// One request kind and the record written for it. Itemised kinds ("DC  ") have a
// head of `size` bytes and then one line per item of `itemSize` bytes, built from the
// head fields followed by the item fields; the others add at most one line.
struct RequestKind {
  std::string_view code;
  std::string_view use;                 // what the handsets ask with it
  std::size_t size;                     // payload bytes read (the head, for itemised kinds)
  std::span<const RecordField> fields;  // after the handset text
  std::string_view format;              // lines after the first; empty: none. Only "%s",
                                        // "%-Ns" (blanks on the right), "%Ns" (on the left)
  std::size_t itemSize = 0;
  std::span<const RecordField> itemFields = {};
};

// The 22 kinds in RequestCodeTable order (kind 10 first).
[[nodiscard]] std::span<const RequestKind> RequestKinds();

}  // namespace orderlink
