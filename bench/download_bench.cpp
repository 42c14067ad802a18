// Preparation of a download (table checks, dish-name lookups, join.txt) for the
// largest table set the download accepts.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/Gbk.h"
#include "common/TextFile.h"
#include "common/TxtDir.h"
#include "download/DownloadTables.h"

namespace {

using orderlink::ZeroPadded;

std::vector<std::string> Lines(int count, std::size_t length, const std::string& lead = "") {
  std::vector<std::string> lines;
  lines.reserve(count);
  for (int i = 1; i <= count; ++i) {
    std::string line = lead + ZeroPadded(i, 5);
    line.resize(length, 'x');
    lines.push_back(std::move(line));
  }
  return lines;
}

// Content lines name dishes 1..5000 in bytes 3-7; most of them exist.
std::vector<std::string> ContentLines(int count) {
  std::vector<std::string> lines;
  for (int i = 1; i <= count; ++i) {
    std::string line = "01" + ZeroPadded((i * 7) % 5200 + 1, 5);
    line.resize(29, '1');
    lines.push_back(std::move(line));
  }
  return lines;
}

class LargestTableSet {
 public:
  LargestTableSet() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orderlink-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    root_ = pattern;
    std::filesystem::create_directories(root_ / "TXT");
    const std::string name = orderlink::Utf8ToGbk("金龙大酒店");
    Write("酒店名称.txt", {name});
    Write("菜品类别表.txt", Lines(100, 12));
    Write("菜品套餐表.txt", Lines(100, 22));
    Write("菜品套餐内容表.txt", ContentLines(2000));
    Write("起菜方式表.txt", Lines(100, 10));
    Write("退菜理由表.txt", Lines(100, 12));
    Write("客户要求表.txt", Lines(1000, 23));
    Write("推荐菜品表.txt", Lines(100, 22));
    Write("推荐菜品内容表.txt", ContentLines(1000));
    Write("菜品表.txt", Lines(5000, 100));
    Write("管理员密码.txt", {"12345678"});
  }
  ~LargestTableSet() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  [[nodiscard]] const std::filesystem::path& Root() const { return root_; }

 private:
  void Write(const std::string& name, const std::vector<std::string>& lines) {
    if (!orderlink::WriteLines(root_ / "TXT" / name, lines)) throw std::runtime_error(name);
  }
  std::filesystem::path root_;
};

void BM_PrepareLargestDownload(benchmark::State& state) {
  const LargestTableSet tables;
  const orderlink::TxtDir txt(tables.Root());
  std::array<bool, orderlink::kDownloadTableCount> ticked{};
  for (int i = 0; i < orderlink::kDownloadTableCount; ++i) {
    ticked[i] = orderlink::kDownloadTables[i].visible;
  }
  std::size_t lines = 0;
  for (auto _ : state) {
    const auto prepared = orderlink::PrepareDownload(txt, ticked);
    if (!prepared.error.empty()) {
      state.SkipWithError(prepared.error.c_str());
      break;
    }
    if (!orderlink::WriteFileAtomically(txt.ForWrite(orderlink::kJobFileName),
                                        orderlink::JobFileBytes(prepared.jobLines))) {
      state.SkipWithError("join.txt not written");
      break;
    }
    lines = prepared.jobLines.size();
  }
  state.counters["job_lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_PrepareLargestDownload)->Unit(benchmark::kMillisecond);

}  // namespace
