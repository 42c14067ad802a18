#pragma once
// The two files of access control in TXT (GBK, lines ended by CR LF, replaced whole):
//   DL.txt          the login form writes one line "%-4s %-8s" (user name, password;
//                   fields padded with blanks, never cut, widths in GBK bytes); the
//                   ordering software writes back its verdict, "1" on the first line
//                   when the user is accepted.
//   管理员密码.txt  the administrator password of the handsets, padded with blanks to
//                   8 bytes.
// Texts handed in are UTF-8.

#include <string>
#include <string_view>

#include "common/TxtDir.h"

namespace orderlink {

inline constexpr char kLoginFile[] = "DL.txt";
inline constexpr char kAdminPasswordFile[] = "管理员密码.txt";
inline constexpr std::size_t kAdminPasswordBytes = 8;

// The GBK line of DL.txt, without its line break.
[[nodiscard]] std::string LoginLine(std::string_view userUtf8, std::string_view passwordUtf8);
// False when the file could not be written.
[[nodiscard]] bool WriteLoginFile(const TxtDir& txt, std::string_view userUtf8,
                                  std::string_view passwordUtf8);

enum class LoginVerdict {
  NoFile,    // DL.txt does not exist (or cannot be read): no verdict yet
  Accepted,  // first line exactly "1"
  Refused,   // anything else, an empty file included
};
[[nodiscard]] LoginVerdict ReadLoginVerdict(const TxtDir& txt);

// The GBK line of 管理员密码.txt, without its line break.
[[nodiscard]] std::string AdminPasswordLine(std::string_view passwordUtf8);
// False when the file could not be written.
[[nodiscard]] bool WriteAdminPasswordFile(const TxtDir& txt, std::string_view passwordUtf8);

}  // namespace orderlink
