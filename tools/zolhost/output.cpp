#include "output.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "common/braille_text.h"

namespace zol::host {
namespace {

std::mutex outputLock;
LARGE_INTEGER startCount;
LARGE_INTEGER countsPerSecond;

// A console gets the line as UTF-16, which shows every character whatever its code page;
// a pipe or file gets UTF-8.
void WriteLine(FILE* stream, const std::string& line) {
  std::lock_guard<std::mutex> hold(outputLock);
  HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode;
  if (GetConsoleMode(handle, &mode)) {
    const std::string text = line + "\r\n";
    const int length = static_cast<int>(text.size());
    std::wstring wide(static_cast<size_t>(length), L'\0');
    const int wideLength =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), length);
    DWORD written;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wideLength), &written, nullptr);
    return;
  }
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

void InitOutput() {
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
  for (char32_t c : DecodeText(text)) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(c));
      out += escaped;
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

}  // namespace zol::host
