#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vp {

// What the benchmarks measured, by benchmark name: one time per repetition (seconds per
// iteration), the bytes one iteration moves, the peak resident memory of a child process.
struct Measure {
  std::vector<double> seconds;
  double bytes = 0;
  double maxRssKb = 0;
  std::string error;
};
using Measures = std::map<std::string, Measure>;

// Shows every run on the console as usual and keeps the measures for the results file.
// `smoke`: the context leaves out Google Benchmark's warning that the library was built as DEBUG,
// which Debian's package (optimised, without NDEBUG) always gives; a smoke run judges no time.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  explicit CollectingReporter(bool smoke) : ConsoleReporter(OO_Tabular), smoke_(smoke) {}
  bool ReportContext(const Context& context) override;
  void ReportRuns(const std::vector<Run>& runs) override;
  const Measures& measures() const { return measures_; }

 private:
  bool smoke_;
  Measures measures_;
};

// What the results file says besides the figures.
struct ReportFacts {
  std::string command;  // how it was run
  std::string date;
  std::string machine;
  uint64_t size = 0;
  uint64_t pdfSize = 0;
  uint64_t smallSize = 0;
  std::vector<uint64_t> memorySizes;
  int repetitions = 0;
  std::string loadAtStart;  // the 1, 5 and 15 minute load averages
  std::string loadAtEnd;
};

// The results file in Markdown: the table of stages against their baselines, peak memory, and
// where the time goes in each stage.
std::string MarkdownReport(const ReportFacts& facts, const Measures& measures);

// Median of the repetitions, 0 when there are none.
double Median(std::vector<double> values);

}  // namespace vp
