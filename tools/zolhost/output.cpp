#include "output.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

namespace zol::host {
namespace {

std::mutex outputLock;
LARGE_INTEGER startCount;
LARGE_INTEGER countsPerSecond;

void WriteLine(FILE* stream, const std::string& line) {
  std::lock_guard<std::mutex> hold(outputLock);
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

void InitOutput() {
  SetConsoleOutputCP(CP_UTF8);  // fails harmlessly when stdout is not a console
  QueryPerformanceFrequency(&countsPerSecond);
  QueryPerformanceCounter(&startCount);
}

void PrintLine(const std::string& line) {
  WriteLine(stdout, line);
}

void PrintEvent(const std::string& line) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const double seconds = static_cast<double>(now.QuadPart - startCount.QuadPart) /
                         static_cast<double>(countsPerSecond.QuadPart);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%8.3f] ", seconds);
  WriteLine(stdout, stamp + line);
}

void PrintError(const std::string& text) {
  WriteLine(stderr, "zolhost: " + text);
}

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

}  // namespace zol::host
