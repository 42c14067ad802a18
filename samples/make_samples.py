#!/usr/bin/env python3
"""Writes the sample restaurant into samples/TXT: configuration files and every
download table, GBK bytes with CR LF line ends, file names in UTF-8.

Every table is checked against the download rules (line counts, fixed widths) before
anything is written, so a mistake in the data below stops the script instead of
producing a table the program would refuse.

Usage: python3 samples/make_samples.py [OUTPUT_DIR]   (default: samples/TXT beside this script)
"""

import os
import sys

RESTAURANT = "江南春酒楼"

# (code, name): two-digit category code and its name.
CATEGORIES = [
    ("01", "凉菜"), ("02", "热菜"), ("03", "海鲜"), ("04", "汤羹"), ("05", "主食"),
    ("06", "点心"), ("07", "酒水"), ("08", "饮料"), ("09", "特色菜"), ("10", "素菜"),
]

# Per category: (name, pinyin initials, price, unit, remark).
DISHES = {
    "01": [("拍黄瓜", "PHG", 12, "份", "蒜香爽脆"), ("夫妻肺片", "FQFP", 38, "份", "麻辣"),
           ("凉拌木耳", "LBME", 18, "份", ""), ("口水鸡", "KSJ", 36, "份", "麻辣鲜香"),
           ("皮蛋豆腐", "PDDF", 16, "份", ""), ("酱牛肉", "JNR", 48, "份", "五香"),
           ("糖醋小排", "TCXP", 38, "份", "酸甜"), ("蒜泥白肉", "SNBR", 32, "份", "")],
    "02": [("宫保鸡丁", "GBJD", 32, "份", "微辣"), ("鱼香肉丝", "YXRS", 28, "份", ""),
           ("红烧肉", "HSR", 48, "份", "本帮做法"), ("回锅肉", "HGR", 36, "份", ""),
           ("麻婆豆腐", "MPDF", 22, "份", "麻辣"), ("糖醋里脊", "TCLJ", 38, "份", "酸甜"),
           ("京酱肉丝", "JJRS", 36, "份", "配豆皮"), ("水煮牛肉", "SZNR", 58, "份", "麻辣"),
           ("辣子鸡", "LZJ", 48, "份", "香辣"), ("东坡肘子", "DPZZ", 68, "份", ""),
           ("干煸四季豆", "GBSJD", 26, "份", ""), ("可乐鸡翅", "KLJC", 38, "份", "")],
    "03": [("清蒸鲈鱼", "QZLY", 88, "条", "约一斤二两"), ("油焖大虾", "YMDX", 98, "份", ""),
           ("蒜蓉扇贝", "SRSB", 12, "只", ""), ("葱姜炒蟹", "CJCX", 128, "斤", "时价"),
           ("酸菜鱼", "SCY", 68, "份", ""), ("椒盐皮皮虾", "JYPPX", 88, "份", ""),
           ("剁椒鱼头", "DJYT", 78, "份", "香辣"), ("白灼基围虾", "BZJWX", 78, "斤", "时价")],
    "04": [("西红柿蛋汤", "XHSDT", 18, "份", ""), ("酸辣汤", "SLT", 22, "份", ""),
           ("老鸭汤", "LYT", 58, "锅", "慢炖三小时"), ("玉米排骨汤", "YMPGT", 48, "锅", ""),
           ("鲫鱼豆腐汤", "JYDFT", 42, "锅", ""), ("紫菜蛋花汤", "ZCDHT", 16, "份", "")],
    "05": [("米饭", "MF", 2, "碗", ""), ("扬州炒饭", "YZCF", 22, "份", ""),
           ("牛肉面", "NRM", 26, "碗", ""), ("水饺", "SJ", 28, "份", "猪肉白菜馅"),
           ("葱油饼", "CYB", 12, "份", ""), ("馒头", "MT", 2, "个", ""),
           ("炸酱面", "ZJM", 22, "碗", ""), ("蛋炒饭", "DCF", 16, "份", "")],
    "06": [("小笼包", "XLB", 22, "笼", "八只"), ("虾饺", "XJ", 28, "笼", "四只"),
           ("烧卖", "SM", 20, "笼", ""), ("春卷", "CJ", 16, "份", ""),
           ("南瓜饼", "NGB", 18, "份", ""), ("叉烧包", "CSB", 18, "笼", "")],
    "07": [("青岛啤酒", "QDPJ", 8, "瓶", ""), ("雪花啤酒", "XHPJ", 7, "瓶", ""),
           ("五粮液", "WLY", 1280, "瓶", "500毫升"), ("贵州茅台", "GZMT", 2680, "瓶", "500毫升"),
           ("长城干红", "CCGH", 168, "瓶", ""), ("绍兴黄酒", "SXHJ", 38, "壶", "可加热"),
           ("二锅头", "EGT", 18, "瓶", "")],
    "08": [("可口可乐", "KKKL", 6, "听", ""), ("雪碧", "XB", 6, "听", ""),
           ("鲜榨橙汁", "XZCZ", 28, "扎", ""), ("酸梅汤", "SMT", 18, "扎", "自制"),
           ("椰汁", "YZ", 8, "听", ""), ("矿泉水", "KQS", 3, "瓶", ""),
           ("王老吉", "WLJ", 6, "罐", ""), ("柠檬茶", "NMC", 12, "杯", "")],
    "09": [("北京烤鸭", "BJKY", 168, "只", "含饼酱葱丝"), ("叫花鸡", "JHJ", 98, "只", "需提前预订"),
           ("松鼠桂鱼", "SSGY", 138, "条", ""), ("东坡肉", "DPR", 58, "份", ""),
           ("佛跳墙", "FTQ", 288, "盅", "需提前预订"), ("片皮鸭", "PPY", 88, "只", "")],
    "10": [("清炒时蔬", "QCSS", 18, "份", ""), ("地三鲜", "DSX", 22, "份", ""),
           ("手撕包菜", "SSBC", 18, "份", ""), ("蒜蓉西兰花", "SRXLH", 22, "份", ""),
           ("干锅花菜", "GGHC", 26, "份", "微辣"), ("醋溜白菜", "CLBC", 16, "份", ""),
           ("香菇青菜", "XGQC", 18, "份", ""), ("烧茄子", "SQZ", 22, "份", "")],
}

# Set meals: (number, name, [(dish name, quantity, price inside the set)]).
SET_MEALS = [
    ("01", "商务套餐A", [("宫保鸡丁", 1, 28), ("清炒时蔬", 1, 15), ("西红柿蛋汤", 1, 15), ("米饭", 2, 2)]),
    ("02", "商务套餐B", [("红烧肉", 1, 42), ("麻婆豆腐", 1, 18), ("紫菜蛋花汤", 1, 12), ("米饭", 2, 2)]),
    ("03", "家庭欢聚套餐", [("北京烤鸭", 1, 148), ("糖醋里脊", 1, 32), ("清蒸鲈鱼", 1, 78),
                          ("地三鲜", 1, 18), ("老鸭汤", 1, 48), ("扬州炒饭", 1, 18)]),
    ("04", "情侣套餐", [("油焖大虾", 1, 88), ("可乐鸡翅", 1, 32), ("蒜蓉西兰花", 1, 18),
                      ("鲜榨橙汁", 1, 24), ("小笼包", 1, 18)]),
    ("05", "四人聚餐", [("夫妻肺片", 1, 32), ("水煮牛肉", 1, 52), ("酸菜鱼", 1, 60),
                      ("干煸四季豆", 1, 22), ("玉米排骨汤", 1, 42), ("米饭", 4, 2),
                      ("青岛啤酒", 4, 7)]),
]

RECOMMENDED = [
    ("01", "本店招牌", [("北京烤鸭", 1, 168), ("松鼠桂鱼", 1, 138), ("东坡肉", 1, 58), ("佛跳墙", 1, 288)]),
    ("02", "厨师推荐", [("水煮牛肉", 1, 58), ("剁椒鱼头", 1, 78), ("辣子鸡", 1, 48)]),
    ("03", "时令新品", [("葱姜炒蟹", 1, 128), ("白灼基围虾", 1, 78), ("干锅花菜", 1, 26)]),
]

SERVING_METHODS = [("1", "0", "即起"), ("2", "0", "叫起"), ("3", "0", "先上"), ("4", "0", "后上"),
                   ("5", "1", "加急"), ("6", "0", "等叫")]

RETURN_REASONS = ["上错菜", "菜品变质", "客人不要了", "等待太久", "口味不对", "点错菜", "菜品有异物", "重复点菜"]

CUSTOMER_REQUESTS = ["不要辣", "微辣", "中辣", "特辣", "不要香菜", "不要葱", "少盐", "少油", "不要味精",
                     "打包", "加急", "分开装", "多加醋", "不要蒜", "去冰", "加冰", "热饮", "常温",
                     "清淡一点", "多放辣椒"]

ADMIN_PASSWORD = "8888"
HANDSETS = [1, 2, 3, 4, 5, 6, 7, 8]


def gbk(text):
    return text.encode("gbk")


def pad_right(data, width):
    if len(data) > width:
        raise ValueError("field %r is longer than %d bytes" % (data.decode("gbk"), width))
    return data + b" " * (width - len(data))


def pad_left(data, width):
    if len(data) > width:
        raise ValueError("field %r is longer than %d bytes" % (data.decode("gbk"), width))
    return b" " * (width - len(data)) + data


def money(value):
    return ("%.2f" % value).encode("ascii")


def dish_rows():
    """Dish table lines (100 bytes) and a name -> code map."""
    lines, codes = [], {}
    for category, _ in CATEGORIES:
        for index, (name, initials, price, unit, remark) in enumerate(DISHES[category], start=1):
            code = ("%s%03d" % (category, index)).encode("ascii")
            member_price = price * 0.9 if price >= 20 else price
            line = (code                                   # 1-5 dish code
                    + category.encode("ascii")              # 6-7 category
                    + pad_right(gbk(name), 20)              # 8-27 name
                    + pad_right(initials.encode("ascii"), 9)  # 28-36 pinyin initials
                    + pad_left(money(price), 9)             # 37-45 price
                    + pad_right(gbk(unit), 4)               # 46-49 unit
                    + pad_right(gbk(remark), 41)            # 50-90 remark
                    + pad_left(money(member_price), 10))    # 91-100 member price
            lines.append(line)
            codes[name] = code
    return lines, codes


def content_rows(groups, codes):
    """Set-meal or recommendation contents: 29 bytes per line."""
    lines = []
    for number, _, items in groups:
        for dish, quantity, price in items:
            lines.append(number.encode("ascii") + codes[dish]       # 1-2 group, 3-7 dish code
                         + pad_left(str(quantity).encode("ascii"), 9)  # 8-16 quantity
                         + pad_left(money(price), 9)               # 17-25 price in the group
                         + pad_right(gbk("份"), 4))                # 26-29 unit
    return lines


def build():
    dishes, codes = dish_rows()
    tables = {
        "酒店名称.txt": [gbk(RESTAURANT)],
        "菜品类别表.txt": [code.encode("ascii") + pad_right(gbk(name), 10) for code, name in CATEGORIES],
        "菜品套餐表.txt": [n.encode("ascii") + pad_right(gbk(name), 20) for n, name, _ in SET_MEALS],
        "菜品套餐内容表.txt": content_rows(SET_MEALS, codes),
        "起菜方式表.txt": [c.encode("ascii") + f.encode("ascii") + pad_right(gbk(name), 8)
                       for c, f, name in SERVING_METHODS],
        "退菜理由表.txt": [("%02d" % i).encode("ascii") + pad_right(gbk(reason), 10)
                       for i, reason in enumerate(RETURN_REASONS, start=1)],
        "客户要求表.txt": [("%03d" % i).encode("ascii") + pad_right(gbk(text), 20)
                       for i, text in enumerate(CUSTOMER_REQUESTS, start=1)],
        "推荐菜品表.txt": [n.encode("ascii") + pad_right(gbk(name), 20) for n, name, _ in RECOMMENDED],
        "推荐菜品内容表.txt": content_rows(RECOMMENDED, codes),
        "菜品表.txt": dishes,
        "开机画面.txt": [gbk("欢迎光临" + RESTAURANT)],
        "配置文件.txt": [b"CHANNEL=0", b"STATION=1"],
        "管理员密码.txt": [pad_right(ADMIN_PASSWORD.encode("ascii"), 8)],
        "基站.txt": [b"1 COM1"],
        "点菜机.txt": [("%03d 1" % n).encode("ascii") for n in HANDSETS],
    }
    return tables, codes


# Download rules: file -> (most lines, exact bytes per line or None).
RULES = {
    "菜品类别表.txt": (100, 12), "菜品套餐表.txt": (100, 22), "菜品套餐内容表.txt": (2000, 29),
    "起菜方式表.txt": (100, None), "退菜理由表.txt": (100, 12), "客户要求表.txt": (1000, 23),
    "推荐菜品表.txt": (100, 22), "推荐菜品内容表.txt": (1000, 29), "菜品表.txt": (5000, 100),
    "酒店名称.txt": (9999, None), "开机画面.txt": (9999, None), "配置文件.txt": (9999, None),
    "管理员密码.txt": (9999, 8),
}


def check(tables, codes):
    for name, (limit, width) in RULES.items():
        lines = tables[name]
        if not lines or len(lines) > limit:
            raise ValueError("%s: %d lines, limit %d" % (name, len(lines), limit))
        for number, line in enumerate(lines, start=1):
            if width is not None and len(line) != width:
                raise ValueError("%s line %d: %d bytes, not %d" % (name, number, len(line), width))
            if b"\r" in line or b"\n" in line or b"\0" in line:
                raise ValueError("%s line %d: control byte" % (name, number))
            line.decode("gbk")  # whole characters only
    if len(tables["酒店名称.txt"][0]) > 20:
        raise ValueError("restaurant name longer than 20 bytes")
    known = set(codes.values())
    for name in ("菜品套餐内容表.txt", "推荐菜品内容表.txt"):
        for line in tables[name]:
            if line[2:7] not in known:
                raise ValueError("%s: dish code %r is not in the dish table" % (name, line[2:7]))
    dish_codes = [line[:5] for line in tables["菜品表.txt"]]
    if len(set(dish_codes)) != len(dish_codes) or len(dish_codes) < 60:
        raise ValueError("dish codes must be unique and at least 60")


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "TXT")
    tables, codes = build()
    check(tables, codes)
    os.makedirs(out, exist_ok=True)
    for name, lines in tables.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(b"".join(line + b"\r\n" for line in lines))
    print("wrote %d files to %s (%d dishes)" % (len(tables), out, len(tables["菜品表.txt"])))


if __name__ == "__main__":
    main()
