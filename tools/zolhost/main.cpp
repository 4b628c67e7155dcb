// zolhost: a small host for braille display drivers with the zol interface, for testing a
// display and as a sample of what a screen reader does with the driver.
//
//   zolhost --port COM5                    type commands, watch key events
//   zolhost --port COM5 --script test.txt  run a script; exit code 0 when all went well
#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "call_watchdog.h"
#include "commands.h"
#include "common/command_line.h"
#include "host_session.h"
#include "input_lines.h"
#include "output.h"

namespace {

using namespace zol::host;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Options {
  SessionOptions session;
  std::string script;
};

struct ScriptLine {
  int number;
  std::string text;
  Command command;
};

HANDLE quitEvent;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  SetEvent(quitEvent);  // the main thread stops waiting, closes the display and ends
  return TRUE;
}

std::string DriverNextToProgram() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path, length < MAX_PATH ? length : 0);
  const size_t slash = directory.find_last_of("\\/");
  directory.resize(slash == std::string::npos ? 0 : slash + 1);
  return directory + "zol.dll";
}

// Returns kCommandLineOk, or the exit code after the help or the line on standard error.
int ParseOptions(int argc, char** argv, Options* options) {
  CLI::App app(
      "Loads a braille display driver, opens the display (the driver looks on USB first, then on "
      "the serial port NAME, e.g. COM5) and runs commands from FILE, one a line, or as they are "
      "typed.\nExit code: 0 when every command succeeded, 1 when one failed, 2 for bad "
      "arguments or a bad script line, 3 when the driver stopped answering.",
      "zolhost");
  options->session.driverPath = DriverNextToProgram();
  app.add_option("--driver", options->session.driverPath,
                 "the driver (zol.dll next to zolhost.exe)")
      ->type_name("PATH");
  app.add_option("--port", options->session.port, "the serial port to look on")->type_name("NAME");
  app.add_option("--script", options->script, "run the commands in FILE, then end")
      ->type_name("FILE");
  app.add_option("--text1", options->session.text1, "the first text handed to Open")
      ->type_name("TEXT");
  app.add_option("--text2", options->session.text2, "the second text handed to Open")
      ->type_name("TEXT");
  app.footer(kCommandHelp);
  // Windows programs answer /? with their help.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "/?") == 0) argv[i] = const_cast<char*>("--help");
  return zol::tools::ParseCommandLine(app, argc, argv);
}

// Reads and checks the whole script before the driver is loaded, so that a typing error never
// leaves a display half tested.
bool LoadScript(const std::string& path, std::vector<ScriptLine>* lines, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot read the script " + path;
    return false;
  }
  std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) content.erase(0, 3);  // UTF-8 mark
  size_t start = 0;
  for (int number = 1; start < content.size(); ++number) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string text = content.substr(start, end - start);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    start = end + 1;
    Command command;
    std::string problem;
    switch (ParseCommand(text, &command, &problem)) {
      case LineKind::kNothing:
        break;
      case LineKind::kCommand:
        lines->push_back({number, text, std::move(command)});
        break;
      case LineKind::kError:
        *error = path + ":" + std::to_string(number) + ": " + problem;
        return false;
    }
  }
  return true;
}

// Runs the script to its end or to the first failing command.
int RunScript(HostSession& session, const std::string& path, const std::vector<ScriptLine>& lines) {
  for (const ScriptLine& line : lines) {
    if (session.QuitRequested()) {
      PrintError("interrupted");
      return kExitFailed;
    }
    PrintEvent("> " + line.text);
    if (line.command.kind == CommandKind::kQuit) break;
    std::string error;
    if (!session.Run(line.command, &error)) {
      PrintError(path + ":" + std::to_string(line.number) + ": " + error);
      return kExitFailed;
    }
  }
  return kExitOk;
}

// Runs commands as they come from stdin until quit, the end of input or Ctrl+C. A failing
// command is reported and the next one runs; the exit code remembers the failure.
int RunInteractive(HostSession& session) {
  // Lives until the process ends: its thread may still be blocked in a read.
  auto* input = new InputLines;
  if (!input->Start()) {
    PrintError("cannot read commands from the input");
    return kExitFailed;
  }
  const bool typed = InputLines::IsConsole();
  if (typed) PrintLine("type a command; help lists them, quit ends");
  int status = kExitOk;
  while (!session.QuitRequested()) {
    session.WaitForInput(input->ReadyEvent());
    std::string text;
    bool ended = false;
    if (!input->Take(&text, &ended)) {
      if (ended) break;
      continue;
    }
    if (!typed) PrintEvent("> " + text);
    Command command;
    std::string error;
    const LineKind kind = ParseCommand(text, &command, &error);
    if (kind == LineKind::kNothing) continue;
    if (kind == LineKind::kCommand && command.kind == CommandKind::kQuit) break;
    if (kind == LineKind::kError || !session.Run(command, &error)) {
      PrintError(error);
      status = kExitFailed;
    }
  }
  return session.QuitRequested() ? kExitFailed : status;
}

int Main(int argc, char** argv) {
  InitOutput();
  // A driver with a missing dependency must fail with a message, not wait for a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  Options options;
  if (const int code = ParseOptions(argc, argv, &options); code != zol::tools::kCommandLineOk)
    return code;
  std::string error;
  std::vector<ScriptLine> script;
  if (!options.script.empty() && !LoadScript(options.script, &script, &error)) {
    PrintError(error);
    return kExitUsage;
  }

  quitEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  CallWatchdog watchdog;
  // Lives until the process ends: the driver holds it as its host.
  auto* session = new HostSession(options.session, watchdog, quitEvent);
  if (!session->Load(&error) || !session->Open(nullptr, &error)) {
    PrintError(error);
    return kExitFailed;
  }
  const int status = options.script.empty() ? RunInteractive(*session)
                                            : RunScript(*session, options.script, script);
  session->Close();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  return Main(argc, argv);
}
