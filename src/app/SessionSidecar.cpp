#include "app/SessionSidecar.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "access/AccessFiles.h"
#include "common/Gbk.h"
#include "common/Log.h"
#include "common/TextFile.h"
#include "download/DownloadTables.h"

namespace orderlink {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

std::string_view KindWords(SidecarEventKind kind) {
  switch (kind) {
    case SidecarEventKind::Start:
      return "start";
    case SidecarEventKind::SentAnnounce:
      return "sent announce";
    case SidecarEventKind::SentNotify:
      return "sent notify";
    case SidecarEventKind::SentClose:
      return "sent close";
    case SidecarEventKind::ReceivedNotify:
      return "received notify";
    case SidecarEventKind::User:
      return "user";
    case SidecarEventKind::LineLost:
      return "line lost";
    case SidecarEventKind::LineBack:
      return "line back";
  }
  return "";
}

std::string Quoted(std::string_view utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\\' || c == '"')
      out += std::string("\\") + c;
    else if (byte < 0x20 || byte == 0x7F)
      out += std::string("\\x") + kHexDigits[byte >> 4] + kHexDigits[byte & 15];
    else
      out += c;
  }
  return out + "\"";
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> Unquoted(std::string_view text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::nullopt;
  text = text.substr(1, text.size() - 2);
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i >= text.size()) return std::nullopt;
    switch (text[i]) {
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 'x': {
        const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return out;
}

std::optional<std::string> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexValue(hex[i]), low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
  }
  return out;
}

std::string FileLine(const SidecarFile& file) {
  std::string line = "file " + file.name + " ";
  if (!file.bytes) return line + "missing\n";
  const std::string utf8 = GbkToUtf8(*file.bytes);
  if (Utf8ToGbkExact(utf8) == *file.bytes) return line + "text " + Quoted(utf8) + "\n";
  line += "hex ";
  for (const char c : *file.bytes) {
    const auto byte = static_cast<unsigned char>(c);
    line += kHexDigits[byte >> 4];
    line += kHexDigits[byte & 15];
  }
  return line + "\n";
}

std::optional<SidecarFile> ParseFileLine(std::string_view line) {
  // file NAME missing | file NAME text "..." | file NAME hex HEX; names hold no blank.
  line.remove_prefix(5);
  const auto blank = line.find(' ');
  if (blank == std::string_view::npos || blank == 0) return std::nullopt;
  SidecarFile file{std::string(line.substr(0, blank)), std::nullopt};
  const std::string_view rest = line.substr(blank + 1);
  if (rest == "missing") return file;
  if (rest.starts_with("text ")) {
    const auto utf8 = Unquoted(rest.substr(5));
    if (!utf8) return std::nullopt;
    file.bytes = Utf8ToGbkExact(*utf8);
    if (!file.bytes) return std::nullopt;
    return file;
  }
  if (rest.starts_with("hex ")) {
    file.bytes = FromHex(rest.substr(4));
    if (!file.bytes) return std::nullopt;
    return file;
  }
  return std::nullopt;
}

std::optional<SidecarEvent> ParseEventLine(std::string_view line) {
  const auto blank = line.find(' ');
  if (blank == std::string_view::npos || blank == 0) return std::nullopt;
  SidecarEvent event;
  for (const char c : line.substr(0, blank)) {
    if (c < '0' || c > '9') return std::nullopt;
    event.microseconds = event.microseconds * 10 + static_cast<std::uint64_t>(c - '0');
  }
  std::string_view rest = line.substr(blank + 1);
  if (rest.starts_with("user ") && rest.size() > 5) {
    event.kind = SidecarEventKind::User;
    event.action = std::string(rest.substr(5));
    return event;
  }
  for (const auto kind :
       {SidecarEventKind::Start, SidecarEventKind::SentAnnounce, SidecarEventKind::SentClose,
        SidecarEventKind::LineLost, SidecarEventKind::LineBack}) {
    if (rest == KindWords(kind)) {
      event.kind = kind;
      return event;
    }
  }
  for (const auto kind : {SidecarEventKind::SentNotify, SidecarEventKind::ReceivedNotify}) {
    const std::string prefix = std::string(KindWords(kind)) + " ";
    if (!rest.starts_with(prefix)) continue;
    rest.remove_prefix(prefix.size());
    if (rest.empty() || rest.size() > 9) return std::nullopt;
    int code = 0;
    for (const char c : rest) {
      if (c < '0' || c > '9') return std::nullopt;
      code = code * 10 + (c - '0');
    }
    event.kind = kind;
    event.code = code;
    return event;
  }
  return std::nullopt;
}

std::uint64_t NowMicroseconds() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

}  // namespace

std::string FormatSidecarEvent(const SidecarEvent& event) {
  std::string out = std::to_string(event.microseconds) + " " + std::string(KindWords(event.kind));
  if (event.kind == SidecarEventKind::SentNotify || event.kind == SidecarEventKind::ReceivedNotify)
    out += " " + std::to_string(event.code);
  if (event.kind == SidecarEventKind::User) out += " " + event.action;
  out += "\n";
  for (const auto& file : event.files) out += FileLine(file);
  return out;
}

std::optional<std::vector<SidecarEvent>> ParseSidecar(std::string_view text, std::string* error) {
  std::vector<SidecarEvent> events;
  int number = 0;
  bool header = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const auto fail = [&](std::string_view why) {
      *error = "line " + std::to_string(number) + ": " + std::string(why);
      return std::nullopt;
    };
    if (!header) {
      if (line != kSidecarHeader)
        return fail("not a sidecar (it begins with \"" + std::string(kSidecarHeader) + "\")");
      header = true;
      continue;
    }
    if (line.starts_with("file ")) {
      if (events.empty()) return fail("a file before the first event");
      auto file = ParseFileLine(line);
      if (!file) return fail("a file line is file NAME missing, text \"...\" or hex HEX");
      events.back().files.push_back(std::move(*file));
      continue;
    }
    auto event = ParseEventLine(line);
    if (!event) return fail("not an event: \"" + std::string(line.substr(0, 60)) + "\"");
    events.push_back(std::move(*event));
  }
  if (!header) {
    *error = "empty file";
    return std::nullopt;
  }
  return events;
}

std::vector<std::string> SidecarFileNames(SidecarEventKind kind, int code) {
  switch (kind) {
    case SidecarEventKind::Start:
      return {"基站.txt", "点菜机.txt", "管理员密码.txt"};
    case SidecarEventKind::SentNotify:
      if (code == NotifyRequest) return {"T1.txt"};
      if (code == NotifyLogin) return {"DL.txt"};
      return {};
    case SidecarEventKind::ReceivedNotify:
      if (code == NotifyShortMessage) return {"DX.txt"};
      if (code == NotifyRequest) return {"R1.txt"};
      if (code == NotifyLogin) return {"DL.txt"};
      if (code == NotifyDownload) {
        // The tables; the administrator password is the program's own file.
        std::vector<std::string> names;
        for (const auto& table : kDownloadTables) {
          if (std::string_view(table.fileName) != "管理员密码.txt")
            names.emplace_back(table.fileName);
        }
        return names;
      }
      return {};
    case SidecarEventKind::SentAnnounce:
    case SidecarEventKind::SentClose:
    case SidecarEventKind::User:
    case SidecarEventKind::LineLost:
    case SidecarEventKind::LineBack:
      return {};
  }
  return {};
}

std::unique_ptr<SessionSidecar> SessionSidecar::Start(const std::filesystem::path& path,
                                                      const std::filesystem::path& appDir,
                                                      int ownPort) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    LogError("session sidecar: cannot create " + path.string() + " (" + std::strerror(errno) +
             "); the trace is written without it");
    return nullptr;
  }
  std::unique_ptr<SessionSidecar> sidecar(new SessionSidecar(fd, path.string(), appDir, ownPort));
  LogInfo("session sidecar: writing " + path.string());
  sidecar->Record(SidecarEventKind::Start, 0);
  return sidecar;
}

SessionSidecar::SessionSidecar(int fd, std::string name, const std::filesystem::path& appDir,
                               int ownPort)
    : fd_(fd),
      name_(std::move(name)),
      txt_(appDir),
      ownPort_(ownPort),
      keepPasswords_(std::getenv("ORDERLINK_UI_CONTROL") != nullptr) {}

SessionSidecar::~SessionSidecar() { ::close(fd_); }

void SessionSidecar::OnHostMessage(bool sent, const HostMessage& message) {
  if (message.message == kCloseMessage) {
    if (sent) Record(SidecarEventKind::SentClose, 0);
  } else if (message.message == kHostNotifyMessage) {
    if (!sent)
      Record(SidecarEventKind::ReceivedNotify, message.lParam);
    else if (message.lParam == ownPort_)
      Record(SidecarEventKind::SentAnnounce, 0);
    else
      Record(SidecarEventKind::SentNotify, message.lParam);
  }
}

void SessionSidecar::OnUserAction(const std::string& action) {
  Record(SidecarEventKind::User, 0, action);
}

void SessionSidecar::OnLine(bool back) {
  Record(back ? SidecarEventKind::LineBack : SidecarEventKind::LineLost, 0);
}

void SessionSidecar::Record(SidecarEventKind kind, int code, std::string action) {
  std::lock_guard lock(mutex_);
  if (stopped_) return;
  SidecarEvent event{NowMicroseconds(), kind, code, std::move(action), {}};
  for (const auto& name : SidecarFileNames(kind, code)) {
    auto bytes = ReadTxtBytes(txt_, name);
    // A password typed at the PC stays on it; only a scripted session's test
    // password is kept, for its replay to compare.
    if (bytes && kind == SidecarEventKind::SentNotify && code == NotifyLogin && !keepPasswords_)
      *bytes = WithoutPassword(*bytes);
    event.files.push_back({name, bytes ? std::optional<std::string>(*bytes) : std::nullopt});
  }
  std::string text = FormatSidecarEvent(event);
  if (kind == SidecarEventKind::Start) text = std::string(kSidecarHeader) + "\n" + text;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      stopped_ = true;
      LogError("session sidecar: writing " + name_ + " failed (" +
               (n < 0 ? std::strerror(errno) : "no room") + "); the sidecar stops");
      return;
    }
  }
}

}  // namespace orderlink
