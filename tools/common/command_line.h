// The command lines of the tools and the benchmark, parsed with CLI11 one way: --help prints the
// help on standard output; anything a program cannot use gives one line on standard error,
// "PROGRAM: WHAT (see --help)", and nothing on standard output.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

namespace zol::tools {

constexpr int kCommandLineOk = -1;  // ParseCommandLine: the program goes on
constexpr int kExitBadArguments = 2;

// Parses argv into the options of app. Returns kCommandLineOk, or the exit code to end with: 0
// after the help, kExitBadArguments after the line on standard error.
inline int ParseCommandLine(CLI::App& app, int argc, const char* const* argv) {
  const std::string program = app.get_name();
  auto refuse = [&program](const std::string& what) {
    std::fprintf(stderr, "%s: %s (see --help)\n", program.c_str(), what.c_str());
    return kExitBadArguments;
  };
  // Arguments the app does not know are left over instead of thrown, to be named plainly.
  app.allow_extras();
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::ParseError& error) {
    return refuse(error.what());
  }
  if (!app.remaining().empty())
    return refuse("unknown argument \"" + app.remaining().front() + "\"");
  return kCommandLineOk;
}

}  // namespace zol::tools
