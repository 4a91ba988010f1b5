// What the benchmarks share: a clock and its figures in milliseconds, the
// median of timed rounds, a temporary folder removed at the end, and the
// line that prints a figure against the reference measured in the same run.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace autodeliver::bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

inline double MsSince(Clock::time_point start) { return Ms(Clock::now() - start); }

// The middle value (the upper one of an even count); 0 for none.
inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The median time in milliseconds of `rounds` runs of `work`, each run's
// time divided by `per` (the units of work one run does).
inline double MedianMs(int rounds, int per, const std::function<void()>& work) {
  std::vector<double> times;
  for (int r = 0; r < rounds; ++r) {
    const Clock::time_point start = Clock::now();
    work();
    times.push_back(MsSince(start) / per);
  }
  return Median(std::move(times));
}

// A fresh folder under the system's temporary folder; the benchmark ends
// when it cannot be made. Removed with its contents when the object goes.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "autodeliver-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(2);
    }
    path_ = pattern;
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// "ratio <what>: <figure / reference>", the reference measured in the same
// run on the same machine.
inline void PrintRatio(const char* what, double figure, double reference) {
  std::printf("ratio %s: %.2f\n", what, reference > 0 ? figure / reference : 0.0);
}

}  // namespace autodeliver::bench
