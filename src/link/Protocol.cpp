#include "link/Protocol.h"

#include <algorithm>

namespace orderlink {

namespace {

using Cut = RecordCut;
using Field = RecordField;

constexpr Cut kZ = Cut::UpToZero;

constexpr CommandCode kRegister[] = {
    {kCodeTime, CodeDirection::Both,
     "time: the handset's query (header only) and the PC's answer (six bytes)"},
    {kCodeReplyEnd, CodeDirection::ToHandset, "end of a reply"},
    {kCodeShortMessage, CodeDirection::ToHandset, "short message and its confirmation"},
    {kCodeRollCall, CodeDirection::ToHandset, "roll call, only as the code of a reply line"},
    {kCodeLinkTest, CodeDirection::Both, "link test frame and its echo"},
    {kCodeDownloadOpening, CodeDirection::ToHandset, "opening of a download"},
    {kCodeDownloadEnd, CodeDirection::ToHandset, "end of a download"},
    {kCodeDownloadStatusQuery, CodeDirection::ToHandset, "download status query"},
    {kCodeDownloadComplete, CodeDirection::FromHandset, "download complete"},
    {kCodeDownloadFailed, CodeDirection::FromHandset, "download failed"},
    {kCodeDownloadRecordsMissing, CodeDirection::FromHandset, "download records missing"},
    {kCodeResendOpening, CodeDirection::ToHandset, "opening of a resend of download records"},
    {kCodeResendClosing, CodeDirection::ToHandset, "closing of a resend of download records"},
};

constexpr Field kLoginFields[] = {
    {"waiterNumber", 3, 10}, {"password", 13, 4}, {"softwareVersion", 17, 8}};
constexpr Field kTableOpeningFields[] = {
    {"tableNumber", 3, 4}, {"guestCount", 7, 2}, {"waiterNumber", 9, 5}};
constexpr Field kTableFields[] = {{"tableNumber", 3, 7}};
constexpr Field kShortTableFields[] = {{"tableNumber", 3, 4}};
constexpr Field kMoveTableFields[] = {{"fromTable", 3, 7}, {"toTable", 10, 7}};
constexpr Field kHurryDishFields[] = {{"tableNumber", 3, 7}, {"dishCode", 10, 5}};
constexpr Field kHurryTableDishesFields[] = {{"tableNumber", 3, 7}, {"time", 10, 8}};
constexpr Field kGuestWishFields[] = {{"tableNumber", 3, 7}, {"wish", 10, 12, Cut::TextToEnd}};
constexpr Field kCategoryFields[] = {{"categoryNumber", 3, 2}};
constexpr Field kOrderItemFields[] = {{"dishCode", 0, 5},
                                      {"quantity", 5, 4, kZ},
                                      {"note", 9, 12},
                                      {"servingMode", 21, 2},
                                      {"giftFlag", 23, 1, Cut::OneByte},
                                      {"price", 24, 8}};
constexpr Field kSetMealFields[] = {{"tableNumber", 3, 7},
                                    {"setMeal", 10, 10},
                                    {"quantity", 20, 4, kZ},
                                    {"count", 24, 4, kZ},
                                    {"price", 28, 10}};
constexpr Field kAddDishFields[] = {{"tableNumber", 3, 7},
                                    {"dishCode", 10, 5},
                                    {"unit", 15, 4},
                                    {"note", 19, 14},
                                    {"quantity", 33, 4, kZ},
                                    {"servingMode", 37, 4},
                                    {"giftFlag", 41, 1, Cut::OneByte},
                                    {"price", 42, 12}};
constexpr Field kGiveDishFields[] = {
    {"tableNumber", 3, 7}, {"dishCode", 10, 10}, {"quantity", 20, 4, kZ}, {"count", 24, 4, kZ}};
constexpr Field kPasswordFields[] = {{"oldPassword", 3, 8}, {"newPassword", 11, 8}};

// Formats use only "%s", "%-Ns" (blanks on the right) and "%Ns" (blanks on the left).
constexpr RequestKind kKinds[] = {
    {kCodeLogin, "a waiter logs in (登录)", 25, kLoginFields, "%-10s %-4s %-8s"},
    {kCodeOpenTable, "open a table (开台)", 14, kTableOpeningFields, "%s %s %s"},
    {kCodeMoveTable, "move to another table (换台)", 17, kMoveTableFields, "%s %s"},
    {kCodeAskTable, "ask about a table (查台)", 10, kTableFields, "%s"},
    {kCodeChangeTableOpening, "change a table's opening (修改台头)", 14, kTableOpeningFields,
     "%s %s %s"},
    {kCodeOpenReservedTable, "open a reserved table (预订开台)", 14, kTableOpeningFields,
     "%s %s %s"},
    {kCodeAskBill, "ask for a table's bill (账单查询)", 10, kTableFields, "%s"},
    {kCodeGuestWish, "a guest's wish (客户要求)", 22, kGuestWishFields, "%s %-12s"},
    {kCodePrintOrder, "print a table's order (打印点菜单)", 10, kTableFields, "%s"},
    {kCodeHurryDish, "hurry one dish (菜品催菜)", 15, kHurryDishFields, "%s %s"},
    {kCodeHurryTableDishes, "hurry a table's dishes (催菜)", 18, kHurryTableDishesFields, "%s %s"},
    {kCodeHurryWholeTable, "hurry the whole table (整桌催菜)", 10, kTableFields, "%s"},
    {kCodeTableReservation, "a table's reservation (台号预订)", 7, kShortTableFields, "%s"},
    {kCodeCategoryFree, "which dishes of a category are free to order (类别可选)", 5,
     kCategoryFields, "%s"},
    {kCodeTableFree, "is a table free (台号空闲)", 7, kShortTableFields, "%s"},
    {kCodeReservations, "the reservations (预订汇总)", 3, {}, ""},
    {kCodeFreeTables, "the free tables (空闲汇总)", 3, {}, ""},
    {kCodeOrderDishes, "order dishes (点菜), one item per dish", 10, kTableFields,
     "%s %s %-4s %12s %s %s %8s", 32, kOrderItemFields},
    {kCodeOrderSetMeal, "order a set meal (套餐)", 38, kSetMealFields, "%s %s %-4s %s %10s"},
    {kCodeAddDish, "add a dish (加菜)", 54, kAddDishFields, "%s %s %s %s %-4s %s %s %s"},
    {kCodeGiveDish, "give a dish free (赠送菜品)", 28, kGiveDishFields, "%s %s %-4s %s"},
    {kCodeChangePassword, "change the waiter's password (修改密码)", 19, kPasswordFields, "%s %s"},
};

constexpr bool KindsFollowTheCodeTable() {
  for (std::size_t i = 0; i < RequestCodeTable.size(); ++i) {
    if (kKinds[i].code != RequestCodeTable[i]) return false;
  }
  return std::size(kKinds) == RequestCodeTable.size();
}
static_assert(KindsFollowTheCodeTable(), "one record layout per request code, in table order");

}  // namespace

std::string_view CommandText(std::string_view field) {
  field = field.substr(0, 4);
  return field.substr(0, std::min(field.find('\0'), field.size()));
}

bool IsRequestCode(std::string_view code) {
  return std::find(RequestCodeTable.begin(), RequestCodeTable.end(), code) !=
         RequestCodeTable.end();
}

bool IsDownloadTableTag(std::string_view code) {
  return std::find(kDownloadTableTags.begin(), kDownloadTableTags.end(), code) !=
         kDownloadTableTags.end();
}

std::span<const CommandCode> CommandCodes() { return kRegister; }

std::span<const RequestKind> RequestKinds() { return kKinds; }

}  // namespace orderlink
