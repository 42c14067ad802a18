#include "download/DownloadTables.h"

#include <cerrno>
#include <optional>

#include "common/Gbk.h"
#include "common/TextFile.h"
#include "link/Protocol.h"

namespace orderlink {

namespace {
constexpr int kNoLimit = kMaxTableLines;
constexpr std::size_t kRestaurantNameBytes = 20;
constexpr std::size_t kDishCodeBytes = 5;
constexpr std::size_t kDishNameBytes = 20;
constexpr char kDishTableMissing[] = "菜品表文件不存在！";
constexpr char kRestaurantNameEmpty[] = "酒店名称文件为空！";
}  // namespace

// clang-format off
const std::array<DownloadTable, kDownloadTableCount> kDownloadTables = {{
  {"restaurantNameBox", "酒店名称", "酒店名称.txt", kTagRestaurantName.data(), "酒店名称", kNoLimit, 0,
   TableRewrite::RestaurantName, true, true,
   "酒店名称文件不存在！", nullptr, nullptr},
  {"dishCategoriesBox", "菜品类别", "菜品类别表.txt", kTagDishCategories.data(), "菜品类别表", 100, 12,
   TableRewrite::None, true, true,
   "菜品类别表文件不存在！", "菜品类别条数大于所要求的最大下载条数100！", "菜品类别表第"},
  {"setMealsBox", "菜品套餐", "菜品套餐表.txt", kTagSetMeals.data(), "菜品套餐表", 100, 22,
   TableRewrite::None, true, true,
   "菜品套餐表文件不存在！", "菜品套餐数大于所要求的最大下载条数100！", "菜品套餐表第"},
  {"setMealContentsBox", "菜品套餐内容", "菜品套餐内容表.txt", kTagSetMealContents.data(), "菜品套餐内容表", 2000, 29,
   TableRewrite::DishName, true, true,
   "套餐内容表文件不存在！", "套餐菜品条数大于所要求的最大下载条数2000！", "菜品套餐内容表第"},
  {"servingModesBox", "起菜方式", "起菜方式表.txt", kTagServingModes.data(), "起菜方式表", 100, 0,
   TableRewrite::None, true, true,
   "起菜方式表文件不存在！", "起菜方式条数大于所要求的最大下载条数100！", nullptr},
  {"returnReasonsBox", "退菜理由", "退菜理由表.txt", kTagReturnReasons.data(), "退菜理由表", 100, 12,
   TableRewrite::ReturnReason, true, true,
   "退菜理由表文件不存在！", "退菜条数大于所要求的最大下载条数100！", "退菜理由表第"},
  {"customerRequestsBox", "客户要求", "客户要求表.txt", kTagCustomerRequests.data(), "客户要求表", 1000, 23,
   TableRewrite::None, true, true,
   "客户要求表文件不存在！", "客户要求条数大于所要求的最大下载条数1000！", "客户要求表第"},
  {"recommendedDishesBox", "推荐菜品", "推荐菜品表.txt", kTagRecommendedDishes.data(), "推荐菜品表", 100, 22,
   TableRewrite::None, true, true,
   "推荐菜品表文件不存在！", "推荐菜品条数大于所要求的最大下载条数100！", "推荐菜品表第"},
  {"recommendedDishContentsBox", "推荐菜品内容", "推荐菜品内容表.txt", kTagRecommendedDishContents.data(), "推荐菜品内容表",
   1000, 29, TableRewrite::DishName, true, true,
   "推荐菜品内容表文件不存在！", "套餐菜品条数大于所要求的最大下载条数1000！", "推荐菜品内容表第"},
  {"dishesBox", "菜品", "菜品表.txt", kTagDishes.data(), "菜品表", 5000, 100,
   TableRewrite::None, true, true,
   "菜品表文件不存在！", "菜品条数大于所要求的最大下载条数5000！", "菜品表第"},
  {"startupScreenBox", "开机画面", "开机画面.txt", kTagStartupScreen.data(), "开机画面", kNoLimit, 0,
   TableRewrite::None, false, false,
   "开机画面文件不存在！", nullptr, nullptr},
  {"configurationFileBox", "配置文件", "配置文件.txt", kTagConfigurationFile.data(), "配置文件", kNoLimit, 0,
   TableRewrite::None, false, false,
   "配置文件不存在！", nullptr, nullptr},
  {"adminPasswordBox", "管理员密码", "管理员密码.txt", kTagAdminPassword.data(), "管理员密码", kNoLimit, 0,
   TableRewrite::None, true, false,
   "管理员密码文件不存在！", nullptr, nullptr},
}};
// clang-format on

DishNameIndex::DishNameIndex(const std::vector<std::string>& dishLines) {
  names_.reserve(dishLines.size());
  for (const auto& line : dishLines) {
    if (line.size() < kDishCodeBytes) continue;  // cannot equal a five-byte code
    // A short line still yields a name of full width, so the record keeps its layout.
    std::string name = line.size() > 7 ? line.substr(7, kDishNameBytes) : std::string();
    names_.try_emplace(line.substr(0, kDishCodeBytes), PadRight(name, kDishNameBytes));
  }
}

std::string DishNameIndex::LookupDishName(std::string_view code) const {
  if (auto it = names_.find(std::string(code)); it != names_.end()) return it->second;
  return PadRight(code, code.size() + 15);
}

namespace {

ReadResult<std::vector<std::string>> ReadTable(const TxtDir& txt, std::string_view name,
                                               std::filesystem::path* path) {
  auto found = txt.Find(name);
  if (!found) return ReadFailure{ReadProblem::Missing, ENOENT, txt.Path()};
  *path = *found;
  return ReadLines(*found);
}

std::string RestaurantName(std::string_view line) {
  // A name cut in the middle of a two-byte character loses the whole character.
  return PadRight(line.substr(0, CutAtCharacter(line, kRestaurantNameBytes)), kRestaurantNameBytes);
}

}  // namespace

PreparedDownload PrepareDownload(const TxtDir& txt,
                                 const std::array<bool, kDownloadTableCount>& ticked) {
  PreparedDownload out;
  std::optional<DishNameIndex> dishes;  // read once, when a content table needs it
  for (int i = 0; i < kDownloadTableCount; ++i) {
    if (!ticked[i]) continue;
    const DownloadTable& table = kDownloadTables[i];
    std::filesystem::path path;
    const auto lines = ReadTable(txt, table.fileName, &path);
    if (!lines) {
      out.error = ReadFailureMessage(table.fileName, lines.Failure(), table.missingMessage);
      return out;
    }
    out.tables.push_back({table.tag, path});

    const std::size_t count = lines->size();
    if (count > static_cast<std::size_t>(table.lineLimit)) {
      out.error = table.tooManyMessage != nullptr ? std::string(table.tooManyMessage)
                                                  : std::string(table.title) + "条数超过" +
                                                        std::to_string(kMaxTableLines) + "条！";
      return out;
    }
    if (table.rewrite == TableRewrite::DishName && !dishes) {
      std::filesystem::path dishPath;
      const auto dishLines = ReadTable(txt, kDishTableFile, &dishPath);
      if (!dishLines) {
        out.error = ReadFailureMessage(kDishTableFile, dishLines.Failure(), kDishTableMissing);
        return out;
      }
      dishes.emplace(*dishLines);
    }

    const std::string head = ZeroPadded(static_cast<long long>(count), 4);
    if (table.rewrite == TableRewrite::RestaurantName) {
      if (count == 0) {
        out.error = kRestaurantNameEmpty;
        return out;
      }
      out.jobLines.push_back(head + "0001" + table.tag + RestaurantName((*lines)[0]));
      out.jobLines.insert(out.jobLines.end(), lines->begin() + 1, lines->end());
      continue;
    }

    out.jobLines.reserve(out.jobLines.size() + count);
    for (std::size_t j = 0; j < count; ++j) {
      const std::string& line = (*lines)[j];
      if (table.lineLength != 0 && line.size() != static_cast<std::size_t>(table.lineLength)) {
        out.error = std::string(table.lineErrorPrefix) + std::to_string(j + 1) + "行格式不正确";
        return out;
      }
      std::string jobLine = head + ZeroPadded(static_cast<long long>(j + 1), 4) + table.tag;
      switch (table.rewrite) {
        case TableRewrite::DishName:
          jobLine.append(line, 0, 7);
          jobLine += dishes->LookupDishName(std::string_view(line).substr(2, kDishCodeBytes));
          jobLine.append(line, 7);
          break;
        case TableRewrite::ReturnReason:
          jobLine += line;
          jobLine.append(10, ' ');
          break;
        default:
          jobLine += line;
          break;
      }
      out.jobLines.push_back(std::move(jobLine));
    }
  }
  return out;
}

std::string JobFileBytes(const std::vector<std::string>& jobLines) {
  std::size_t size = 0;
  for (const auto& line : jobLines) size += line.size() + 2;
  std::string bytes;
  bytes.reserve(size);
  for (const auto& line : jobLines) {
    bytes += line;
    bytes += "\r\n";
  }
  return bytes;
}

}  // namespace orderlink
