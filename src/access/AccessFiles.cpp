#include "access/AccessFiles.h"

#include "common/Gbk.h"
#include "common/TextFile.h"

namespace orderlink {

namespace {

constexpr char kUserField[] = "用户名";
constexpr char kPasswordField[] = "密码";
constexpr char kAdminPasswordField[] = "管理员密码";

// A reader never sees half a file: the ordering software may look at DL.txt at any time.
bool ReplaceFile(const TxtDir& txt, std::string_view name, std::string_view bytes) {
  return WriteFileAtomically(txt.ForWrite(name), bytes);
}

}  // namespace

TypedText LoginLine(std::string_view userUtf8, std::string_view passwordUtf8) {
  TypedText user = CheckTypedText(kUserField, userUtf8);
  if (!user.Ok()) return user;
  TypedText password = CheckTypedText(kPasswordField, passwordUtf8);
  if (!password.Ok()) return password;
  return {PadRight(user.gbk, 4) + " " + PadRight(password.gbk, 8), {}};
}

std::string WithoutPassword(std::string_view loginFileBytes) {
  std::string masked(loginFileBytes);
  const std::size_t blank = masked.find(' ', 4);
  if (blank == std::string::npos) return masked;
  for (std::size_t i = blank + 1; i < masked.size() && masked[i] != '\r' && masked[i] != '\n'; ++i)
    if (masked[i] != ' ') masked[i] = '*';
  return masked;
}

std::string LoginFileBytes(std::string_view line) { return std::string(line) + "\r\n"; }

bool WriteLoginFile(const TxtDir& txt, std::string_view bytes) {
  return ReplaceFile(txt, kLoginFile, bytes);
}

LoginVerdictRead ReadLoginVerdict(const TxtDir& txt, std::string_view ownRequest) {
  const auto content = ReadTxtBytes(txt, kLoginFile);
  if (!content) {
    if (content.Failure().problem == ReadProblem::Missing) return {LoginVerdict::NoFile, {}};
    return {LoginVerdict::Unreadable, ReadFailureMessage(kLoginFile, content.Failure(), "")};
  }
  // The request and the verdict share the file: until the ordering software has
  // replaced it, whatever it holds is the user's own typing, not an answer.
  if (!ownRequest.empty() && *content == ownRequest) return {LoginVerdict::NotAnswered, {}};
  const auto lines = SplitLines(*content);
  const bool accepted = !lines.empty() && lines.front() == "1";
  return {accepted ? LoginVerdict::Accepted : LoginVerdict::Refused, {}};
}

TypedText AdminPasswordLine(std::string_view passwordUtf8) {
  TypedText password = CheckTypedText(kAdminPasswordField, passwordUtf8, kAdminPasswordBytes);
  if (password.Ok()) password.gbk = PadRight(password.gbk, kAdminPasswordBytes);
  return password;
}

std::string SaveAdminPassword(const TxtDir& txt, std::string_view passwordUtf8) {
  const TypedText line = AdminPasswordLine(passwordUtf8);
  if (!line.Ok()) return line.problem;
  if (!ReplaceFile(txt, kAdminPasswordFile, line.gbk + "\r\n")) {
    return "管理员密码.txt文件无法写入，密码没有保存！";
  }
  return {};
}

}  // namespace orderlink
