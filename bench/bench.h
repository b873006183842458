// What every benchmark program shares: a clock, medians and spreads over
// rounds, and the Markdown it prints for bench/RESULTS.md (tools/bench.sh
// puts the programs' output together). Figures are per operation; a ratio is
// taken within each round, between runs interleaved in that round, and the
// table gives the median of those per-round ratios and their range.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

using clock_type = std::chrono::steady_clock;
using series = std::vector<double>;  // one value a round

// Seconds that f() takes, once.
template <class F> double seconds(F &&f) {
  auto t0 = clock_type::now();
  f();
  return std::chrono::duration<double>(clock_type::now() - t0).count();
}

inline double median(series v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
inline double lowest(const series &v) { return *std::min_element(v.begin(), v.end()); }
inline double highest(const series &v) { return *std::max_element(v.begin(), v.end()); }

// Microseconds per item of the median stretch of `items` items each.
inline double per_item_us(const series &stretch_seconds, unsigned items) {
  return median(stretch_seconds) / items * 1e6;
}

inline series ratios(const series &a, const series &b) {
  series r;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) r.push_back(a[i] / b[i]);
  return r;
}

// Rounds from the command line (argv[1]), at least 1.
inline int rounds(int argc, char **argv, int fallback) {
  int r = argc > 1 ? atoi(argv[1]) : fallback;
  return r < 1 ? 1 : r;
}

// A table of figures in microseconds, each optionally against a baseline of
// the same round.
inline void table(const char *title, const char *note) {
  printf("\n### %s\n\n%s\n\n", title, note);
  printf("| figure | median µs | spread µs (min–max) | against | ratio (median) | ratio spread |\n");
  printf("|---|---:|---:|---|---:|---:|\n");
}
// Three decimals below 10 µs, where stubs and handlers lie, two above.
inline std::string us_text(double v) {
  char s[32];
  snprintf(s, sizeof s, v < 10 ? "%.3f" : "%.2f", v);
  return s;
}
inline void row(const std::string &name, const series &us) {
  printf("| %s | %s | %s–%s | | | |\n", name.c_str(), us_text(median(us)).c_str(), us_text(lowest(us)).c_str(),
         us_text(highest(us)).c_str());
}
inline double row(const std::string &name, const series &us, const char *base_name, const series &base) {
  series r = ratios(us, base);
  printf("| %s | %s | %s–%s | %s | %.3f | %.3f–%.3f |\n", name.c_str(), us_text(median(us)).c_str(),
         us_text(lowest(us)).c_str(), us_text(highest(us)).c_str(), base_name, median(r), lowest(r), highest(r));
  return median(r);
}

// One line per target, as bench/RESULTS.md lists them.
inline void target(const char *name, const std::string &measured, const std::string &limit, bool met) {
  printf("target %s: %s (limit %s) %s\n", name, measured.c_str(), limit.c_str(), met ? "met" : "missed");
}
inline std::string fmt(const char *f, double a, double b = 0) {
  char s[128];
  snprintf(s, sizeof s, f, a, b);
  return s;
}

}  // namespace bench
