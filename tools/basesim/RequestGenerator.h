#pragma once
// What a simulated handset asks for: its log-in first, then a mix of the other 21
// request kinds with payloads of the sizes the PC's record writers read, and now and
// then a header-only time query. Deterministic for a given seed.

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace orderlink::basesim {

struct HandsetRequest {
  std::string code;        // four bytes ("DC  ")
  std::string payload;     // bytes after the handset byte (GBK text, binary fields)
  bool timeQuery = false;  // "SJCX" sent as a header-only frame
};

// The 22 request codes in their fixed order ("DL  " first).
[[nodiscard]] const std::vector<std::string>& RequestCodes();

// Dish codes of the sample menu ("01001" ...), used when no dish table is given.
[[nodiscard]] std::vector<std::string> DefaultDishCodes();

// Dish codes (bytes 1-5) of the lines of a dish table; lines shorter than 5 are skipped.
[[nodiscard]] std::vector<std::string> DishCodesOf(const std::vector<std::string>& dishTableLines);

class RequestGenerator {
 public:
  RequestGenerator(std::uint8_t handset, std::uint32_t seed, std::vector<std::string> dishCodes,
                   double timeQueryRate);

  // The handset's next request: "DL  " the first time.
  [[nodiscard]] HandsetRequest Next();
  // A request of the given kind (one of RequestCodes()).
  [[nodiscard]] HandsetRequest Make(std::string_view code);

 private:
  std::string Pick(const std::vector<std::string>& choices);
  int Between(int low, int high);
  std::string Table();
  std::string DishCode();
  std::string OrderItem();

  std::string handsetText_;
  std::mt19937 random_;
  std::vector<std::string> dishCodes_;
  double timeQueryRate_;
  bool loggedIn_ = false;
};

}  // namespace orderlink::basesim
