#include "input_lines.h"

#include <utility>

namespace zol::host {
namespace {

std::string WideToUtf8(const wchar_t* text, int length) {
  if (length <= 0) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace

InputLines::InputLines() : ready_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

// The reader thread may still be blocked in a read; it ends with the process.
InputLines::~InputLines() = default;

bool InputLines::IsConsole() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool InputLines::Start() {
  input_ = GetStdHandle(STD_INPUT_HANDLE);
  if (ready_ == nullptr) return false;
  HANDLE thread = CreateThread(nullptr, 0, ReaderThread, this, 0, nullptr);
  if (thread == nullptr) return false;
  CloseHandle(thread);
  return true;
}

bool InputLines::Take(std::string* line, bool* ended) {
  std::lock_guard<std::mutex> hold(lock_);
  *ended = ended_;
  if (lines_.empty()) return false;
  *line = std::move(lines_.front());
  lines_.pop_front();
  if (lines_.empty() && !ended_) ResetEvent(ready_);
  return true;
}

void InputLines::Push(std::string line, bool ended) {
  std::lock_guard<std::mutex> hold(lock_);
  if (ended) {
    ended_ = true;
  } else {
    lines_.push_back(std::move(line));
  }
  SetEvent(ready_);
}

DWORD WINAPI InputLines::ReaderThread(void* self) {
  auto* reader = static_cast<InputLines*>(self);
  std::string line;
  while (reader->ReadLine(&line)) reader->Push(std::move(line), false);
  reader->Push(std::string(), true);
  return 0;
}

// One line from a console (typed text in any language, through the wide console API) or from
// a pipe or file (bytes as they come). False at the end of input.
bool InputLines::ReadLine(std::string* line) {
  line->clear();
  DWORD mode;
  if (GetConsoleMode(input_, &mode)) {
    std::wstring wide;
    wchar_t c;
    DWORD count = 0;
    while (ReadConsoleW(input_, &c, 1, &count, nullptr) && count == 1) {
      if (c == L'\n') break;
      if (c == 0x1A && wide.empty()) return false;  // Ctrl+Z ends console input
      if (c != L'\r') wide.push_back(c);
    }
    if (count != 1 && wide.empty()) return false;
    *line = WideToUtf8(wide.data(), static_cast<int>(wide.size()));
    return true;
  }
  char c;
  DWORD count = 0;
  bool any = false;
  while (ReadFile(input_, &c, 1, &count, nullptr) && count == 1) {
    any = true;
    if (c == '\n') break;
    if (c != '\r') line->push_back(c);
  }
  return any;
}

}  // namespace zol::host
