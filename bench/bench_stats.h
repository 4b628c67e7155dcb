// Summaries of timed samples and the report of the benchmark: a table on standard output and
// the same figures as JSON.
#pragma once

#include <string>
#include <vector>

namespace zol::bench {

// The q-quantile (0..1) of samples, nearest rank; 0 when there are none.
double Quantile(std::vector<double> samples, double q);

struct Figure {
  std::string name;    // what was measured
  std::string unit;    // of floor and value
  double floor = 0;    // the same raw work without the driver, in the same run
  double value = 0;    // the driver's figure
  std::string target;  // the target in words
  // Whether the target was met; "n/a" when it could not be measured.
  std::string met;
  std::string note;  // how it was measured, or why it could not be
  int samples = 0;
};

// What the JSON says about the run as a whole.
struct RunInfo {
  std::string mode;  // full, quick or smoke
  std::string name;  // e.g. "before" or "after"; may be empty
  std::string zol;   // the DLL timed
  double loadBefore = 0;
  double loadAfter = 0;
};

class Report {
 public:
  void Add(const Figure& figure);
  void PrintTable() const;
  bool WriteJson(const std::string& path, const RunInfo& run) const;
  const std::vector<Figure>& figures() const { return figures_; }

 private:
  std::vector<Figure> figures_;
};

}  // namespace zol::bench
