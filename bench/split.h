// The benchmarks' lists on the command line ("GT04,GT13", "0.5,1").
#ifndef QUILLANE_BENCH_SPLIT_H
#define QUILLANE_BENCH_SPLIT_H

#include <string>
#include <vector>

// In s: items separated by commas. Returns the items, empty ones kept ("" gives one).
inline std::vector<std::string> split(const std::string& s) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= s.size()) {
    const size_t comma = s.find(',', start);
    out.push_back(s.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

#endif  // QUILLANE_BENCH_SPLIT_H
