#include "RequestGenerator.h"

#include <cstdio>

#include "common/Gbk.h"

namespace orderlink::basesim {

namespace {

// Weights of the kinds after the log-in: orders and additions dominate a shift.
struct Kind {
  const char* code;
  int weight;
};
constexpr Kind kMix[] = {
    {"KT  ", 8}, {"HT  ", 2}, {"CT  ", 3},  {"XGTT", 2}, {"YDKT", 2}, {"ZDCX", 4}, {"KHYQ", 5},
    {"DYDC", 3}, {"CPCC", 3}, {"CLCC", 2},  {"ZZCC", 2}, {"THYD", 1}, {"LBKX", 2}, {"THKX", 1},
    {"YDHZ", 1}, {"KXHZ", 1}, {"DC  ", 30}, {"TC  ", 5}, {"JC  ", 8}, {"ZSCP", 2}, {"XGMM", 1},
};

std::vector<std::string> Gbk(std::initializer_list<const char*> utf8) {
  std::vector<std::string> out;
  for (const char* text : utf8) out.push_back(Utf8ToGbk(text));
  return out;
}

const std::vector<std::string>& CustomerWishes() {
  static const std::vector<std::string> wishes =
      Gbk({"不要香菜", "少放盐", "多加辣", "快点上菜", "打包带走", "分开装", "不要味精", "免葱"});
  return wishes;
}

const std::vector<std::string>& ItemNotes() {
  static const std::vector<std::string> notes =
      Gbk({"", "", "不要辣", "微辣", "少油", "加急", "不要葱", "去冰"});
  return notes;
}

// Quantities as the handset writes them into a four-byte field ended by zero bytes.
// Never three zeros in a row: on the line they would restart the PC's receiver.
const std::vector<std::string>& Quantities() {
  static const std::vector<std::string> quantities = {std::string("1.\0\0", 4),
                                                      std::string("2.\0\0", 4),
                                                      std::string("1.5\0", 4),
                                                      std::string("3.\0\0", 4),
                                                      std::string("10\0\0", 4),
                                                      std::string("0.5\0", 4),
                                                      "12.5"};
  return quantities;
}

std::string Money(double value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return PadLeft(text, width);
}

}  // namespace

const std::vector<std::string>& RequestCodes() {
  static const std::vector<std::string> codes = {
      "DL  ", "KT  ", "HT  ", "CT  ", "XGTT", "YDKT", "ZDCX", "KHYQ", "DYDC", "CPCC", "CLCC",
      "ZZCC", "THYD", "LBKX", "THKX", "YDHZ", "KXHZ", "DC  ", "TC  ", "JC  ", "ZSCP", "XGMM"};
  return codes;
}

std::vector<std::string> DefaultDishCodes() {
  std::vector<std::string> codes;
  for (int category = 1; category <= 10; ++category) {
    for (int n = 1; n <= 6; ++n) codes.push_back(ZeroPadded(category, 2) + ZeroPadded(n, 3));
  }
  return codes;
}

std::vector<std::string> DishCodesOf(const std::vector<std::string>& dishTableLines) {
  std::vector<std::string> codes;
  for (const auto& line : dishTableLines) {
    if (line.size() >= 5) codes.push_back(line.substr(0, 5));
  }
  return codes;
}

RequestGenerator::RequestGenerator(std::uint8_t handset, std::uint32_t seed,
                                   std::vector<std::string> dishCodes, double timeQueryRate)
    : handsetText_(ZeroPadded(handset, 3)),
      random_(seed * 1000003u + handset),
      dishCodes_(dishCodes.empty() ? DefaultDishCodes() : std::move(dishCodes)),
      timeQueryRate_(timeQueryRate) {}

std::string RequestGenerator::Pick(const std::vector<std::string>& choices) {
  return choices[std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(random_)];
}

int RequestGenerator::Between(int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(random_);
}

// A table number as the handset keys it: hall letter and three digits, in 7 bytes.
std::string RequestGenerator::Table() {
  return PadRight(
      std::string(1, static_cast<char>('A' + Between(0, 3))) + ZeroPadded(Between(1, 40), 3), 7);
}

std::string RequestGenerator::DishCode() { return Pick(dishCodes_); }

// One 32-byte order item: dish code, quantity, note, serving method, gift flag, price.
std::string RequestGenerator::OrderItem() {
  std::string item = DishCode();
  item += Pick(Quantities());
  item += PadRight(Pick(ItemNotes()), 12);
  item += ZeroPadded(Between(1, 6), 2);
  item += Between(0, 9) == 0 ? '1' : '0';
  item += Money(Between(2, 300), 8);
  return item;
}

HandsetRequest RequestGenerator::Next() {
  if (!loggedIn_) {
    loggedIn_ = true;
    return Make("DL  ");
  }
  if (std::uniform_real_distribution<double>(0.0, 1.0)(random_) < timeQueryRate_) {
    return HandsetRequest{"SJCX", "", true};
  }
  int total = 0;
  for (const Kind& kind : kMix) total += kind.weight;
  int roll = Between(1, total);
  for (const Kind& kind : kMix) {
    roll -= kind.weight;
    if (roll <= 0) return Make(kind.code);
  }
  return Make("DC  ");
}

HandsetRequest RequestGenerator::Make(std::string_view code) {
  HandsetRequest request{std::string(code), handsetText_, false};
  std::string& p = request.payload;
  const std::string waiter = "1" + ZeroPadded(Between(1, 30), 4);
  if (code == "DL  ") {
    p += PadRight(waiter, 10) + ZeroPadded(Between(0, 9999), 4) + "V2.10   ";
  } else if (code == "KT  " || code == "XGTT" || code == "YDKT") {
    p += Table().substr(0, 4) + ZeroPadded(Between(1, 12), 2) + waiter;
  } else if (code == "HT  ") {
    p += Table() + Table();
  } else if (code == "KHYQ") {
    p += Table() + Pick(CustomerWishes());
  } else if (code == "CPCC") {
    p += Table() + DishCode();
  } else if (code == "CLCC") {
    p += Table() + ZeroPadded(Between(0, 23), 2) + ZeroPadded(Between(0, 59), 2) + "0000";
  } else if (code == "CT  " || code == "ZDCX" || code == "DYDC" || code == "ZZCC") {
    p += Table();
  } else if (code == "THYD" || code == "THKX") {
    p += Table().substr(0, 4);
  } else if (code == "LBKX") {
    p += ZeroPadded(Between(1, 10), 2);
  } else if (code == "DC  ") {
    p += Table();
    const int items = Between(1, 6);
    for (int i = 0; i < items; ++i) p += OrderItem();
  } else if (code == "TC  ") {
    p += Table() + PadRight(ZeroPadded(Between(1, 5), 2), 10) + Pick(Quantities()) +
         Pick(Quantities()) + Money(Between(50, 500), 10);
  } else if (code == "JC  ") {
    p += Table() + DishCode() + "1.00" + PadRight(Pick(ItemNotes()), 14) + Pick(Quantities()) +
         ZeroPadded(Between(1, 6), 4) + (Between(0, 1) ? '1' : '0') + Money(Between(2, 300), 12);
  } else if (code == "ZSCP") {
    p += Table() + PadRight(DishCode(), 10) + Pick(Quantities()) + Pick(Quantities());
  } else if (code == "XGMM") {
    p += PadRight(ZeroPadded(Between(0, 9999), 4), 8) +
         PadRight(ZeroPadded(Between(0, 999999), 6), 8);
  }
  // "YDHZ" and "KXHZ" carry the handset text alone.
  return request;
}

}  // namespace orderlink::basesim
