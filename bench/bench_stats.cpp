#include "bench_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

namespace zol::bench {

double Quantile(std::vector<double> samples, double q) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const double rank = std::ceil(q * static_cast<double>(samples.size()));
  const size_t index = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
  return samples[std::min(index, samples.size() - 1)];
}

bool Meets(const Target& target, double value, double floor, double given) {
  const double from = target.from == From::Floor ? floor : target.from == From::Given ? given : 0;
  const double limit = target.times * (from + target.bound);
  switch (target.compare) {
    case Compare::AtMost:
      return value <= limit;
    case Compare::Below:
      return value < limit;
    case Compare::Equal:
      return value == limit;
    case Compare::Within:
      return value >= limit * (1 - target.tolerance / 100) &&
             value <= limit * (1 + target.tolerance / 100);
    case Compare::Holds:
    case Compare::Reference:
      return true;
  }
  return false;
}

std::string Verdict(const Target& target, const Measured& measured) {
  if (target.compare == Compare::Reference) return "-";
  if (!measured.available) return "n/a";
  return measured.holds && Meets(target, measured.value, measured.floor, measured.given) ? "yes"
                                                                                         : "no";
}

namespace {

void Replace(std::string& text, const std::string& what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

std::string Number(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Words(const Target& target, double given) {
  std::string words = target.words;
  Replace(words, "{bound}", Number("%g", target.bound));
  Replace(words, "{times}", Number("%g", target.times));
  Replace(words, "{tolerance}", Number("%g", target.tolerance));
  Replace(words, "{given}", Number("%.0f", given));
  return words;
}

}  // namespace

void Report::Add(const Target& target, const Measured& measured, const std::string& fill) {
  Figure f;
  f.id = target.id;
  f.name = target.name;
  Replace(f.name, "{}", fill);
  f.unit = target.unit;
  f.floor = measured.floor;
  f.value = measured.value;
  f.target = Words(target, measured.given);
  f.met = Verdict(target, measured);
  f.note = measured.note;
  f.samples = measured.samples;
  figures_.push_back(f);
  std::printf("  %-48s floor %10.3f  figure %10.3f %s  [%s]\n", f.name.c_str(), f.floor, f.value,
              f.unit.c_str(), f.met.c_str());
  std::fflush(stdout);
}

namespace {

std::string Ratio(const Figure& figure) {
  if (figure.floor <= 0) return "-";
  return Number("%.2f", figure.value / figure.floor);
}

// The JSON keeps six decimal places of floor and figure and two of the ratio.
double Rounded(double value, double places) {
  const double scale = std::pow(10.0, places);
  return std::round(value * scale) / scale;
}

}  // namespace

void Report::PrintTable() const {
  std::printf("\n| figure | unit | floor | figure | ratio | target | met? |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (const Figure& f : figures_)
    std::printf("| %s | %s | %.3f | %.3f | %s | %s | %s |\n", f.name.c_str(), f.unit.c_str(),
                f.floor, f.value, Ratio(f).c_str(), f.target.c_str(), f.met.c_str());
  std::printf("\nNotes:\n");
  for (const Figure& f : figures_)
    if (!f.note.empty()) std::printf("- %s: %s\n", f.name.c_str(), f.note.c_str());
  std::fflush(stdout);
}

bool Report::WriteJson(const std::string& path, const RunInfo& run) const {
  using Json = nlohmann::ordered_json;
  Json figures = Json::array();
  for (const Figure& f : figures_)
    figures.push_back({{"id", f.id},
                       {"name", f.name},
                       {"unit", f.unit},
                       {"floor", Rounded(f.floor, 6)},
                       {"figure", Rounded(f.value, 6)},
                       {"ratio", f.floor > 0 ? Json(Rounded(f.value / f.floor, 2)) : Json()},
                       {"target", f.target},
                       {"met", f.met},
                       {"samples", f.samples},
                       {"note", f.note}});
  const Json report = {{"mode", run.mode},
                       {"run", run.name},
                       {"zol", run.zol},
                       {"load_before", Rounded(run.loadBefore, 2)},
                       {"load_after", Rounded(run.loadAfter, 2)},
                       {"figures", figures}};
  std::ofstream out(path);
  out << report.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
  out.close();
  return static_cast<bool>(out);
}

}  // namespace zol::bench
