#include "project/slide_order.h"

#include <map>
#include <mutex>

namespace lum {

namespace {

// The tables and their contents are guarded by one process-wide lock.
std::mutex& TablesLock() {
  static std::mutex lock;
  return lock;
}

std::map<std::string, std::shared_ptr<TSlideOrder>>& Tables() {
  static auto* tables = new std::map<std::string, std::shared_ptr<TSlideOrder>>;
  return *tables;
}

}  // namespace

std::shared_ptr<TSlideOrder> TSlideOrder::ForProject(const std::string& path, int32_t count) {
  if (path.empty()) return nullptr;
  std::lock_guard<std::mutex> hold(TablesLock());
  auto& table = Tables()[path];
  if (!table) table = std::make_shared<TSlideOrder>();
  for (int32_t i = int32_t(table->order_.size()); i < count; ++i) table->order_.push_back(i + 1);
  return table;
}

int32_t TSlideOrder::SectionNumber(int32_t slide) {
  if (slide < 0) return slide + 1;
  std::lock_guard<std::mutex> hold(TablesLock());
  for (int32_t i = int32_t(order_.size()); i <= slide; ++i) order_.push_back(i + 1);
  return order_[slide];
}

int32_t TSlideOrder::Size() {
  std::lock_guard<std::mutex> hold(TablesLock());
  return int32_t(order_.size());
}

int32_t SlideSectionNumber(TSlideOrder* order, int32_t slide) {
  return order ? order->SectionNumber(slide) : slide + 1;
}

}  // namespace lum
