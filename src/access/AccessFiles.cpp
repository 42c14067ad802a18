#include "access/AccessFiles.h"

#include "common/Gbk.h"
#include "common/TextFile.h"

namespace orderlink {

namespace {

// A reader never sees half a file: the ordering software may look at DL.txt at any time.
bool WriteSingleLine(const TxtDir& txt, std::string_view name, const std::string& line) {
  return WriteFileAtomically(txt.ForWrite(name), line + "\r\n");
}

}  // namespace

std::string LoginLine(std::string_view userUtf8, std::string_view passwordUtf8) {
  return PadRight(Utf8ToGbk(userUtf8), 4) + " " + PadRight(Utf8ToGbk(passwordUtf8), 8);
}

bool WriteLoginFile(const TxtDir& txt, std::string_view userUtf8, std::string_view passwordUtf8) {
  return WriteSingleLine(txt, kLoginFile, LoginLine(userUtf8, passwordUtf8));
}

LoginVerdict ReadLoginVerdict(const TxtDir& txt) {
  const auto path = txt.Find(kLoginFile);
  if (!path) return LoginVerdict::NoFile;
  const auto lines = ReadLines(*path);
  if (!lines) return LoginVerdict::NoFile;
  return !lines->empty() && lines->front() == "1" ? LoginVerdict::Accepted : LoginVerdict::Refused;
}

std::string AdminPasswordLine(std::string_view passwordUtf8) {
  return PadRight(Utf8ToGbk(passwordUtf8), kAdminPasswordBytes);
}

bool WriteAdminPasswordFile(const TxtDir& txt, std::string_view passwordUtf8) {
  return WriteSingleLine(txt, kAdminPasswordFile, AdminPasswordLine(passwordUtf8));
}

}  // namespace orderlink
