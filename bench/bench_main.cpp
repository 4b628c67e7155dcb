// zol_bench: times a zol.dll under Wine against simulated displays, and times a bare program
// doing the same raw work in the same run (the floor), so that the load of the machine cancels
// out of the comparison as far as it can. The DLL is loaded by path, so the same program times
// an older build for a before/after comparison.
//
// HID figures use a simulated display served as a named pipe on a thread of this program, so
// both ends are timed with QueryPerformanceCounter. Serial figures use the native
// serial_display_sim on a pty, run by scripts/with-serial-display.sh --control, whose stamped log
// gives the time of every packet; the clock that Wine's QueryPerformanceCounter follows is
// checked against the floor's own writes before any serial figure is computed.
//
//   zol_bench --zol PATH [--quick | --smoke] [--json PATH] [--groups hid,serial,hidpc]
//             [--run NAME] [--keep-sim-log PATH]
#include <cstdio>
#include <sstream>
#include <string>

#include "bench_context.h"
#include "common/command_line.h"

namespace zol::bench {
namespace {

// Each group opens and closes the driver itself. A group needs the display it names; serial
// needs the display program's control folder in the environment.
struct Group {
  const char* name;
  void (*run)(BenchContext&);
  bool inSmoke;  // part of the smoke run (ctest): quick and needing no display program
};

constexpr Group kGroups[] = {
    {"hid", RunHidGroup, true},
    {"serial", RunSerialGroup, false},
    {"hidpc", RunHidPcGroup, false},
};

bool Selected(const Options& options, const Group& group) {
  if (options.groups.empty()) return !options.smoke || group.inSmoke;
  std::istringstream names(options.groups);
  for (std::string name; std::getline(names, name, ',');)
    if (name == group.name) return true;
  return false;
}

IBrailleDriver* LoadDriver(const std::string& path) {
  // As a host should: by full path, its dependencies from its own folder or the system's.
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  HMODULE module =
      length > 0 && length < MAX_PATH
          ? LoadLibraryExA(full, nullptr,
                           LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32)
          : nullptr;
  if (module == nullptr) {
    std::fprintf(stderr, "zol_bench: cannot load %s (error %lu)\n", path.c_str(), GetLastError());
    return nullptr;
  }
  auto get = reinterpret_cast<ZolGetBrailleInterfaceFn>(
      reinterpret_cast<void*>(GetProcAddress(module, ZOL_ENTRY_POINT_NAME)));
  if (get == nullptr) return nullptr;
  ZolDriver* raw = nullptr;
  get(&raw);
  return reinterpret_cast<IBrailleDriver*>(raw);
}

int Run(BenchContext& bench) {
  const Options& options = bench.options;
  RunInfo run;
  run.mode = options.smoke ? "smoke" : options.quick ? "quick" : "full";
  run.name = options.nameOfRun;
  run.zol = options.zolPath;
  run.loadBefore = LoadAverage();
  std::printf("zol_bench (%s%s%s) on %s, load average %.2f\n", run.mode.c_str(),
              run.name.empty() ? "" : ", ", run.name.c_str(), options.zolPath.c_str(),
              run.loadBefore);
  bench.driver = LoadDriver(options.zolPath);
  if (bench.driver == nullptr) return 1;
  for (const Group& group : kGroups)
    if (Selected(options, group)) group.run(bench);
  run.loadAfter = LoadAverage();
  bench.report.PrintTable();
  std::printf("\nload average before %.2f, after %.2f\n", run.loadBefore, run.loadAfter);
  if (!bench.report.WriteJson(options.jsonPath, run)) {
    std::fprintf(stderr, "zol_bench: cannot write %s\n", options.jsonPath.c_str());
    return 1;
  }
  return bench.report.figures().empty() ? 1 : 0;
}

}  // namespace
}  // namespace zol::bench

int main(int argc, char** argv) {
  zol::bench::BenchContext bench;
  zol::bench::Options& options = bench.options;
  CLI::App app("Times a zol.dll under Wine against simulated displays.", "zol_bench");
  app.add_option("--zol", options.zolPath, "the driver to time")->type_name("PATH")->required();
  app.add_flag("--quick", options.quick, "fewer samples");
  app.add_flag("--smoke", options.smoke,
               "a few samples of the groups that need no display program");
  app.add_option("--json", options.jsonPath, "write the figures to PATH (bench.json)")
      ->type_name("PATH");
  app.add_option("--groups", options.groups, "the groups to run, e.g. hid,serial,hidpc")
      ->type_name("LIST");
  app.add_option("--run", options.nameOfRun, "a name for this run")->type_name("NAME");
  app.add_option("--keep-sim-log", options.keepSimLog, "keep the serial display's log at PATH")
      ->type_name("PATH");
  if (const int code = zol::tools::ParseCommandLine(app, argc, argv);
      code != zol::tools::kCommandLineOk)
    return code;
  return zol::bench::Run(bench);
}
