#pragma once
// The two files of access control in TXT (GBK, lines ended by CR LF, replaced whole):
//   DL.txt          the login form writes one line "%-4s %-8s" (user name, password;
//                   fields padded with blanks, never cut, widths in GBK bytes); the
//                   ordering software writes back its verdict, "1" on the first line
//                   when the user is accepted.
//   管理员密码.txt  the administrator password of the handsets, padded with blanks to
//                   8 bytes.
// Texts handed in are UTF-8 as typed; they are checked (CheckTypedText) before
// anything is written, so a field can never add a line or change a character.
// Window thread; plain functions.

#include <string>
#include <string_view>

#include "access/TypedText.h"
#include "common/TxtDir.h"

namespace orderlink {

inline constexpr char kLoginFile[] = "DL.txt";
inline constexpr char kAdminPasswordFile[] = "管理员密码.txt";
inline constexpr std::size_t kAdminPasswordBytes = 8;

// The GBK line of DL.txt without its line break, or the problem of the fields.
[[nodiscard]] TypedText LoginLine(std::string_view userUtf8, std::string_view passwordUtf8);
// DL.txt's login request with the password's characters as '*' (blanks and line
// ends kept), for records that leave the machine: the password begins after the
// blank that ends the user field (four columns or the user's length).
[[nodiscard]] std::string WithoutPassword(std::string_view loginFileBytes);
// The whole content of DL.txt for `line`.
[[nodiscard]] std::string LoginFileBytes(std::string_view line);
// Replaces DL.txt with `bytes`. False when it could not be written.
[[nodiscard]] bool WriteLoginFile(const TxtDir& txt, std::string_view bytes);

enum class LoginVerdict {
  NoFile,       // DL.txt does not exist: no verdict yet
  NotAnswered,  // DL.txt still holds exactly the request this program wrote
  Unreadable,   // DL.txt is there but cannot be read: `problem` says why
  Accepted,     // first line exactly "1"
  Refused,      // anything else, an empty file included
};
struct LoginVerdictRead {
  LoginVerdict verdict = LoginVerdict::NoFile;
  std::string problem;  // UTF-8, for Unreadable
};
// `ownRequest` is the content this program wrote last ("" when it wrote none).
[[nodiscard]] LoginVerdictRead ReadLoginVerdict(const TxtDir& txt, std::string_view ownRequest);

// The GBK line of 管理员密码.txt without its line break, or the problem of the field
// (at most 8 GBK bytes).
[[nodiscard]] TypedText AdminPasswordLine(std::string_view passwordUtf8);
// Checks and stores the administrator password. The message to show when it was not
// stored (UTF-8), empty when it was.
[[nodiscard]] std::string SaveAdminPassword(const TxtDir& txt, std::string_view passwordUtf8);

}  // namespace orderlink
