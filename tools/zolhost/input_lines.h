// Reads command lines from stdin on a thread of its own, so that the main thread can go on
// pumping messages (and printing key events) while a person types.
#ifndef ZOL_TOOLS_ZOLHOST_INPUT_LINES_H
#define ZOL_TOOLS_ZOLHOST_INPUT_LINES_H

#include <windows.h>

#include <deque>
#include <mutex>
#include <string>

namespace zol::host {

class InputLines {
 public:
  InputLines();
  ~InputLines();
  InputLines(const InputLines&) = delete;
  InputLines& operator=(const InputLines&) = delete;

  // Starts the reader thread. Returns false when it cannot be started.
  bool Start();

  // Signalled while a line (or the end of input) is waiting to be taken.
  HANDLE ReadyEvent() const { return ready_; }

  // Takes the next line (UTF-8, without line end). Returns false when no line is waiting;
  // *ended is then true once the input has ended.
  bool Take(std::string* line, bool* ended);

  // True when stdin is a console, that is a person typing.
  static bool IsConsole();

 private:
  static DWORD WINAPI ReaderThread(void* self);
  bool ReadLine(std::string* line);
  void Push(std::string line, bool ended);

  HANDLE ready_;
  HANDLE input_ = nullptr;
  std::mutex lock_;
  std::deque<std::string> lines_;
  bool ended_ = false;
};

}  // namespace zol::host

#endif  // ZOL_TOOLS_ZOLHOST_INPUT_LINES_H
