// Runs zolhost.exe as a person or a script would, against the fake driver of fake_driver.cpp,
// and checks its exit code, its output and the calls that reached the driver.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

constexpr DWORD kRunLimitMs = 60000;

struct Outcome {
  DWORD exitCode = 0;
  std::string out;
  std::string err;
};

std::string ProgramDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path, length);
  return directory.substr(0, directory.find_last_of("\\/") + 1);
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// zolhost writes Windows line ends.
std::string WithoutCarriageReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

int CountLines(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

class ZolhostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    directory_ = std::string(temp) + "zolhost_test_" + std::to_string(GetCurrentProcessId()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + "\\";
    CreateDirectoryA(directory_.c_str(), nullptr);
    logPath_ = directory_ + "driver.log";
    DeleteFileA(logPath_.c_str());
    SetEnvironmentVariableA("ZOL_FAKE_DRIVER_LOG", logPath_.c_str());
    fakeDriver_ = ProgramDirectory() + "fake_driver.dll";
  }

  std::string WriteScript(const std::string& text) {
    const std::string path = directory_ + "script.txt";
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  std::string DriverLog() const { return ReadFile(logPath_); }

  // Runs zolhost.exe with the arguments, feeding it the input on stdin.
  Outcome Zolhost(const std::string& arguments, const std::string& input = "") {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const std::string outPath = directory_ + "out.txt";
    const std::string errPath = directory_ + "err.txt";
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    HANDLE inRead, inWrite;
    CreatePipe(&inRead, &inWrite, &inherit, 65536);
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    DWORD written;
    WriteFile(inWrite, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    CloseHandle(inWrite);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    std::string commandLine = "\"" + ProgramDirectory() + "zolhost.exe\" " + arguments;
    Outcome run;
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
      ADD_FAILURE() << "cannot start " << commandLine;
    } else {
      if (WaitForSingleObject(process.hProcess, kRunLimitMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "zolhost did not end: " << commandLine;
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
      }
      GetExitCodeProcess(process.hProcess, &run.exitCode);
      CloseHandle(process.hProcess);
      CloseHandle(process.hThread);
    }
    CloseHandle(inRead);
    CloseHandle(out);
    CloseHandle(err);
    run.out = WithoutCarriageReturns(ReadFile(outPath));
    run.err = WithoutCarriageReturns(ReadFile(errPath));
    return run;
  }

  Outcome ZolhostScript(const std::string& script) {
    return Zolhost("--driver \"" + fakeDriver_ + "\" --port COM9 --script \"" +
                   WriteScript(script) + "\"");
  }

  std::string directory_;
  std::string logPath_;
  std::string fakeDriver_;
};

// One line on stderr, the given exit code, nothing on stdout.
void ExpectRefusal(const Outcome& run, DWORD exitCode, const std::string& message) {
  EXPECT_EQ(run.exitCode, exitCode);
  EXPECT_EQ(CountLines(run.err), 1) << run.err;
  EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
}

TEST_F(ZolhostTest, BadArgumentsGiveOneLineAndExitCode2) {
  ExpectRefusal(Zolhost("--verbose"), 2, "zolhost: unknown argument \"--verbose\"");
  ExpectRefusal(Zolhost("--port"), 2, "zolhost: --port: 1 required NAME missing");
  ExpectRefusal(Zolhost("--script \"" + directory_ + "none.txt\""), 2, "cannot read the script");
  const Outcome help = Zolhost("--help");
  EXPECT_EQ(help.exitCode, 0u);
  EXPECT_NE(help.out.find("expect-key NAME [VALUE] [TIMEOUT_MS]"), std::string::npos);
}

TEST_F(ZolhostTest, BadScriptLinesAreFoundBeforeTheDriverIsLoaded) {
  const std::string name = "script.txt:";
  ExpectRefusal(ZolhostScript("# test\nwrite hi\nwrte hi\n"), 2,
                name + "3: unknown command \"wrte\"");
  ExpectRefusal(ZolhostScript("wait soon\n"), 2, name + "1: \"soon\" is not a time");
  ExpectRefusal(ZolhostScript("dots 01 1FF\n"), 2, name + "1: \"1FF\" is not a dot pattern");
  ExpectRefusal(ZolhostScript("clear now\n"), 2, name + "1: wrong number of words, use: clear");
  ExpectRefusal(ZolhostScript("expect-key \"F1 0\n"), 2, "a double quote is not closed");
  ExpectRefusal(ZolhostScript("expect-key F1 one\n"), 2, "\"one\" is not a key value");
  EXPECT_EQ(DriverLog(), "");
}

TEST_F(ZolhostTest, DriverProblemsGiveOneLineAndExitCode1) {
  ExpectRefusal(Zolhost("--driver \"" + directory_ + "missing.dll\""), 1,
                "zolhost: cannot load the driver");
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  ExpectRefusal(Zolhost("--driver \"" + std::string(system) + "\\version.dll\""), 1,
                "is not a braille driver: it has no GetBrailleInterface function");
  ExpectRefusal(Zolhost("--driver \"" + fakeDriver_ + "\" --port BUSY"), 1,
                "zolhost: no display answered on USB or on BUSY");
}

TEST_F(ZolhostTest, ScriptWritesClearsAndReceivesKeys) {
  const Outcome run = ZolhostScript(
      "write hello\n"
      "expect-key F1\n"
      "expect-key \"shift KBD12\" 0\n"
      "expect-key Routing 40 2000\n"
      "clear\n"
      "expect-key SLDN 0 5000\n"
      "dots 01 ff\n"
      "close\n");
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_NE(run.out.find("opened the display: 40 text cells, 4 status cells\n"), std::string::npos);
  EXPECT_NE(run.out.find("] key F1 0\n"), std::string::npos);
  EXPECT_NE(run.out.find("] key shift KBD12 0\n"), std::string::npos);
  EXPECT_NE(run.out.find("] key Routing 40\n"), std::string::npos);
  EXPECT_NE(run.out.find("] key SLDN 0\n"), std::string::npos);
  EXPECT_NE(run.out.find("] data 13 11 07\n"), std::string::npos);  // h e l from the worker
  EXPECT_NE(run.out.find("] > write hello\n"), std::string::npos);
  std::string cells = "cells \xE2\xA0\x93\xE2\xA0\x91\xE2\xA0\x87\xE2\xA0\x87\xE2\xA0\x95";
  for (int i = 5; i < 40; ++i) cells += "\xE2\xA0\x80";
  EXPECT_NE(run.out.find(cells + "\n"), std::string::npos) << run.out;

  std::string hello = "WriteTextCells 40 13 11 07 07 15";
  for (int i = 5; i < 40; ++i) hello += " 00";
  std::string dots = "WriteTextCells 40 01 FF";
  for (int i = 2; i < 40; ++i) dots += " 00";
  EXPECT_EQ(DriverLog(), "Open COM9  \n" + hello + "\nClearDisplay\n" + dots + "\nClose\n");
}

TEST_F(ZolhostTest, MissingKeyStopsTheScriptAndClosesTheDisplay) {
  const Outcome run = ZolhostScript("expect-key F9 0 300\nwrite never\n");
  ExpectRefusal(run, 1, "script.txt:1: no key event \"F9\" with value 0 within 300 ms");
  EXPECT_EQ(DriverLog(), "Open COM9  \nClose\n");
}

TEST_F(ZolhostTest, RefusedWriteIsAFailure) {
  const Outcome run = ZolhostScript("suspend\nwrite hi\n");
  ExpectRefusal(run, 1, "script.txt:2: the driver refused the cells");
  EXPECT_EQ(DriverLog(), "Open COM9  \nSetSuspended 1\nClose\n");
}

TEST_F(ZolhostTest, InfoWriteAllAndOddKeyEvents) {
  const Outcome run = Zolhost("--driver \"" + fakeDriver_ +
                              "\" --port COM9 --text1 abc --text2 \"d e\" --script \"" +
                              WriteScript("info\nwriteall A\nresume\n") + "\"");
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  EXPECT_NE(run.out.find("display open: 40 text cells, 4 status cells, 44 in all\n"
                         "parameter1 \"abc\"\nparameter2 \"d e\"\ninfo value 768\n"
                         "identity FAKE {01234567-89AB-CDEF-0102-030405060708}\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("] key WRONG 0 (reported on thread "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("] key qwerty:caf\xC3\xA9\\x07 0\n"), std::string::npos) << run.out;
  std::string all = "WriteAllCells 44 41";
  for (int i = 1; i < 44; ++i) all += " 00";
  EXPECT_NE(DriverLog().find(all + "\n"), std::string::npos) << DriverLog();
}

TEST_F(ZolhostTest, TypedCommandsGoOnAfterAFailure) {
  const Outcome run =
      Zolhost("--driver \"" + fakeDriver_ + "\" --port COM9",
              "frobnicate\r\nwrite ab\r\nexpect-key Routing 40\r\nquit\r\nclear\r\n");
  EXPECT_EQ(run.exitCode, 1u);
  ExpectRefusal(run, 1, "zolhost: unknown command \"frobnicate\"");
  EXPECT_NE(run.out.find("] key Routing 40\n"), std::string::npos) << run.out;
  std::string ab = "WriteTextCells 40 01 03";
  for (int i = 2; i < 40; ++i) ab += " 00";
  EXPECT_EQ(DriverLog(), "Open COM9  \n" + ab + "\nClose\n");
}

}  // namespace
