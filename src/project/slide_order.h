#pragma once
// Slide-order tables: which section holds slide i. Documents of the same
// project (same [Main] "ProjectFilePath") share one table.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lum {

class TSlideOrder {
 public:
  // The table of a project path, created with the identity order of count
  // entries; an empty path gives no table (the identity order applies).
  static std::shared_ptr<TSlideOrder> ForProject(const std::string& path, int32_t count);

  // 1-based section number of slide i; the table grows with identity entries.
  int32_t SectionNumber(int32_t slide);
  int32_t Size();

 private:
  std::vector<int32_t> order_;
};

// Section number of slide i through an optional table.
int32_t SlideSectionNumber(TSlideOrder* order, int32_t slide);

}  // namespace lum
