#pragma once

#include <cstdio>
#include <memory>

namespace murve {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
// A stdio file closed when it goes, on every path.
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace murve
