#include "HostLogic.h"

#include <algorithm>
#include <cstdio>

#include "common/Gbk.h"
#include "common/TextFile.h"

namespace orderlink::hostsim {

namespace {

// Bytes [pos, pos+length) of a record line with trailing blanks and zero bytes removed.
std::string Field(const std::string& line, std::size_t pos, std::size_t length) {
  if (pos >= line.size()) return "";
  std::string field = line.substr(pos, length);
  while (!field.empty() && (field.back() == ' ' || field.back() == '\0')) field.pop_back();
  while (!field.empty() && field.front() == ' ') field.erase(field.begin());
  return field;
}

std::string G(const char* utf8) { return Utf8ToGbk(utf8); }

bool Digits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<RequestRecord> ParseRequestRecord(std::string_view t1Content) {
  std::vector<std::string> lines = SplitLines(t1Content);
  if (lines.empty() || lines[0].size() < 8 || lines[0][4] != ' ' ||
      !Digits(std::string_view(lines[0]).substr(5, 3))) {
    return std::nullopt;
  }
  RequestRecord record{lines[0].substr(0, 4), lines[0].substr(5, 3), {}};
  record.lines.assign(lines.begin() + 1, lines.end());
  return record;
}

std::map<std::string, std::string> DishNamesOf(const std::vector<std::string>& dishTableLines) {
  std::map<std::string, std::string> names;
  for (const auto& line : dishTableLines) {
    if (line.size() >= 27) names.emplace(line.substr(0, 5), Field(line, 7, 20));
  }
  return names;
}

std::string ReplyWriter::DishName(const std::string& code) const {
  const auto it = dishNames_.find(code);
  return it == dishNames_.end() ? G("菜品") + code : it->second;
}

std::vector<std::string> ReplyWriter::Reply(const RequestRecord& record,
                                            std::string_view replyCode) const {
  const std::string code = replyCode.empty() ? record.code : PadRight(replyCode, 4).substr(0, 4);
  std::vector<std::string> out{code + " " + record.handset};
  const std::string first = record.lines.empty() ? std::string() : record.lines[0];
  const std::string& c = record.code;
  if (c == "DL  ") {
    out.push_back(G("登录成功"));
    out.push_back(G("操作员:") + Field(first, 0, 10));
  } else if (c == "KT  " || c == "YDKT") {
    out.push_back(G(c == "KT  " ? "开台成功" : "预订开台成功") + " " + Field(first, 0, 4) + " " +
                  G("人数:") + Field(first, 5, 2));
  } else if (c == "XGTT") {
    out.push_back(G("修改台头成功 ") + Field(first, 0, 4));
  } else if (c == "HT  ") {
    out.push_back(G("换台成功 ") + Field(first, 0, 7) + " -> " + Field(first, 8, 7));
  } else if (c == "CT  ") {
    out.push_back(Field(first, 0, 7) + G(" 就餐中 人数:4 已点6道"));
  } else if (c == "ZDCX") {
    out.push_back(G("账单 ") + Field(first, 0, 7));
    out.push_back(G("宫保鸡丁    1份    32.00"));
    out.push_back(G("红烧肉      1份    48.00"));
    out.push_back(G("米饭        4碗     8.00"));
    out.push_back(G("本单共3道菜，合计金额88.00元，会员优惠8.80元，应收79.20元，谢谢惠顾"));
  } else if (c == "KHYQ") {
    out.push_back(G("已通知厨房:") + Field(first, 8, 12));
  } else if (c == "DYDC") {
    out.push_back(G("点菜单已送打印 ") + Field(first, 0, 7));
  } else if (c == "CPCC" || c == "JC  ") {
    const std::string dish = Field(first, 8, 5);
    out.push_back(DishName(dish) + G(c == "CPCC" ? " 已上桌" : " 加菜成功"));
  } else if (c == "CLCC" || c == "ZZCC") {
    out.push_back(G("已催菜，厨房正在制作 ") + Field(first, 0, 7));
  } else if (c == "THYD" || c == "THKX") {
    out.push_back(G("操作成功 ") + Field(first, 0, 4));
  } else if (c == "LBKX") {
    out.push_back(G("类别 ") + Field(first, 0, 2) + G(" 全部可售"));
  } else if (c == "YDHZ") {
    out.push_back(G("今日预订: A003 18:00 王先生 6人"));
    out.push_back(G("今日预订: B012 19:00 李女士 10人"));
  } else if (c == "KXHZ") {
    out.push_back(G("空闲台: A001 A004 A010 B002 B007 C001"));
  } else if (c == "DC  ") {
    int count = 0;
    for (const auto& line : record.lines) {
      out.push_back(DishName(Field(line, 8, 5)) + " x" + Field(line, 14, 4) + G(" 已下单"));
      ++count;
    }
    out.push_back(G("点菜成功，共") + std::to_string(count) + G("道"));
  } else if (c == "TC  ") {
    out.push_back(G("套餐已下单 ") + Field(first, 8, 10));
  } else if (c == "ZSCP") {
    out.push_back(G("赠送成功 ") + DishName(Field(first, 8, 5)));
  } else if (c == "XGMM") {
    out.push_back(G("密码修改成功"));
  } else {
    out.push_back(G("收到"));
  }
  return out;
}

bool LoginAccepted(std::string_view dlContent, const Users& users) {
  const std::vector<std::string> lines = SplitLines(dlContent);
  if (lines.empty()) return false;
  // "%-4s %-8s": the user name runs to the first blank, the password follows the
  // blanks after it; neither holds a blank itself.
  const std::string& line = lines[0];
  const std::size_t nameEnd = line.find(' ');
  const std::string name = line.substr(0, nameEnd);
  std::string password;
  if (nameEnd != std::string::npos) {
    const std::size_t start = line.find_first_not_of(' ', nameEnd);
    if (start != std::string::npos) password = line.substr(start, line.find(' ', start) - start);
  }
  return std::any_of(users.begin(), users.end(), [&](const auto& user) {
    return user.first == name && user.second == password;
  });
}

std::string ShortMessageLine(int sender, int target, std::string_view textGbk) {
  return ZeroPadded(sender, 3) + " " + ZeroPadded(target, 3) + " " + std::string(textGbk);
}

std::vector<int> HandsetsOf(const std::vector<std::string>& handsetFileLines, char station) {
  std::vector<int> out;
  for (const auto& line : handsetFileLines) {
    if (line.size() >= 5 && line[4] == station && Digits(std::string_view(line).substr(0, 3))) {
      out.push_back(std::stoi(line.substr(0, 3)));
    }
  }
  return out;
}

const std::vector<std::string>& DownloadTableFiles() {
  static const std::vector<std::string> files = {
      "酒店名称.txt",       "菜品类别表.txt", "菜品套餐表.txt", "菜品套餐内容表.txt",
      "起菜方式表.txt",     "退菜理由表.txt", "客户要求表.txt", "推荐菜品表.txt",
      "推荐菜品内容表.txt", "菜品表.txt",     "开机画面.txt",   "配置文件.txt"};
  return files;
}

}  // namespace orderlink::hostsim
