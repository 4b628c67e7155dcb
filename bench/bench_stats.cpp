#include "bench_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zol::bench {

double Quantile(std::vector<double> samples, double q) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const double rank = std::ceil(q * static_cast<double>(samples.size()));
  const size_t index = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
  return samples[std::min(index, samples.size() - 1)];
}

void Report::Add(const Figure& figure) {
  figures_.push_back(figure);
  std::printf("  %-48s floor %10.3f  figure %10.3f %s  [%s]\n", figure.name.c_str(), figure.floor,
              figure.value, figure.unit.c_str(), figure.met.c_str());
  std::fflush(stdout);
}

namespace {

std::string Ratio(const Figure& figure) {
  if (figure.floor <= 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", figure.value / figure.floor);
  return text;
}

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20) continue;
    out += c;
  }
  return out + "\"";
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
  FILE* out = std::fopen(path.c_str(), "w");
  if (out == nullptr) return false;
  std::fprintf(out,
               "{\n  \"mode\": %s,\n  \"run\": %s,\n  \"zol\": %s,\n  \"load_before\": %.2f,\n"
               "  \"load_after\": %.2f,\n",
               JsonText(run.mode).c_str(), JsonText(run.name).c_str(), JsonText(run.zol).c_str(),
               run.loadBefore, run.loadAfter);
  std::fprintf(out, "  \"figures\": [\n");
  for (size_t i = 0; i < figures_.size(); ++i) {
    const Figure& f = figures_[i];
    std::fprintf(out,
                 "    {\"name\": %s, \"unit\": %s, \"floor\": %.6f, \"figure\": %.6f, "
                 "\"ratio\": %s, \"target\": %s, \"met\": %s, \"samples\": %d, \"note\": %s}%s\n",
                 JsonText(f.name).c_str(), JsonText(f.unit).c_str(), f.floor, f.value,
                 f.floor > 0 ? Ratio(f).c_str() : "null", JsonText(f.target).c_str(),
                 JsonText(f.met).c_str(), f.samples, JsonText(f.note).c_str(),
                 i + 1 < figures_.size() ? "," : "");
  }
  std::fprintf(out, "  ]\n}\n");
  return std::fclose(out) == 0;
}

}  // namespace zol::bench
