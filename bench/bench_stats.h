// Summaries of timed samples and the report of the benchmark: each figure held against its
// target (targets.h), a table on standard output and the same figures as JSON.
#pragma once

#include <string>
#include <vector>

#include "targets.h"

namespace zol::bench {

// The q-quantile (0..1) of samples, nearest rank; 0 when there are none.
double Quantile(std::vector<double> samples, double q);

// What a group measured for one target.
struct Measured {
  double value = 0;  // the driver's figure
  double floor = 0;  // the same raw work without the driver, in the same run
  int samples = 0;
  // False when the figure could not be measured: the verdict is "n/a".
  bool available = true;
  // The target's conditions besides its bound (nothing lost, in order, what Open returned).
  bool holds = true;
  double given = 0;  // what a bound From::Given is counted from
  std::string note;  // how it was measured, or why it could not be
};

// Whether value is within target's bound.
bool Meets(const Target& target, double value, double floor = 0, double given = 0);
// "yes", "no", "n/a" when not measured, "-" for a reference row.
std::string Verdict(const Target& target, const Measured& measured);

// A row of the report.
struct Figure {
  std::string id;
  std::string name;
  std::string unit;  // of floor and value
  double floor = 0;
  double value = 0;
  std::string target;  // the target in words
  std::string met;     // the verdict
  std::string note;
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
  // Adds and prints the row of target; fill stands for "{}" in its name.
  void Add(const Target& target, const Measured& measured, const std::string& fill = "");
  void PrintTable() const;
  bool WriteJson(const std::string& path, const RunInfo& run) const;
  const std::vector<Figure>& figures() const { return figures_; }

 private:
  std::vector<Figure> figures_;
};

}  // namespace zol::bench
