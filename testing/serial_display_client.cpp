#include "testing/serial_display_client.h"

#include <cstdlib>
#include <sstream>

#include "testing/message_pump.h"

namespace zol::testing {

SerialDisplayClient::SerialDisplayClient() {
  const char* dir = std::getenv("ZOL_E2E_CONTROL");
  const char* com = std::getenv("ZOL_E2E_COM");
  if (dir == nullptr || com == nullptr) return;
  dir_ = dir;
  com_ = com;
  fifo_ = CreateFileA((dir_ + "\\ctl").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
  log_ = CreateFileA((dir_ + "\\log").c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     0, nullptr);
}

SerialDisplayClient::~SerialDisplayClient() {
  if (fifo_ != INVALID_HANDLE_VALUE) CloseHandle(fifo_);
  if (log_ != INVALID_HANDLE_VALUE) CloseHandle(log_);
}

// Written whole (a FIFO may take it in parts); stops at a failed write.
void SerialDisplayClient::Send(const std::string& text) {
  const std::string line = text + "\n";
  size_t done = 0;
  while (done < line.size()) {
    DWORD written = 0;
    if (!WriteFile(fifo_, line.data() + done, static_cast<DWORD>(line.size() - done), &written,
                   nullptr))
      return;
    done += written;
  }
}

const std::vector<DisplayLine>& SerialDisplayClient::Lines() {
  char chunk[65536];
  DWORD got = 0;
  while (log_ != INVALID_HANDLE_VALUE && ReadFile(log_, chunk, sizeof chunk, &got, nullptr) &&
         got > 0)
    partial_.append(chunk, got);
  size_t start = 0;
  for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
    DisplayLine line;
    size_t text = start;
    if (partial_[start] == '@') {
      std::istringstream stamps(partial_.substr(start + 1, 48));
      stamps >> line.raw >> line.mono;
      text = partial_.find(' ', partial_.find(' ', start) + 1) + 1;
    }
    line.text = partial_.substr(text, end - text);
    lines_.push_back(std::move(line));
  }
  partial_.erase(0, start);
  return lines_;
}

size_t SerialDisplayClient::Find(size_t from, const std::string& prefix) {
  const std::vector<DisplayLine>& lines = Lines();
  for (size_t i = from; i < lines.size(); ++i)
    if (lines[i].text.compare(0, prefix.size(), prefix) == 0) return i;
  return lines.size();
}

std::vector<std::string> SerialDisplayClient::LinesSince(size_t from, const std::string& prefix) {
  std::vector<std::string> found;
  for (size_t i = Find(from, prefix); i < lines_.size(); i = Find(i + 1, prefix))
    found.push_back(lines_[i].text);
  return found;
}

bool SerialDisplayClient::WaitFor(size_t from, const std::string& prefix, size_t count,
                                  double limitMs) {
  return PumpUntil([&] { return LinesSince(from, prefix).size() >= count; }, limitMs);
}

std::vector<uint8_t> SerialDisplayClient::LastFrame() {
  const size_t mark = Mark();
  Send("cells?");
  if (!WaitFor(mark, "cells ")) return {};
  return HexBytesAfter(LinesSince(mark, "cells ").front(), "cells");
}

int SerialDisplayClient::Count(const std::string& type) {
  const size_t mark = Mark();
  Send("count? " + type);
  const std::string prefix = "count " + type + " ";
  if (!WaitFor(mark, prefix)) return -1;
  return std::atoi(LinesSince(mark, prefix).front().c_str() + prefix.size());
}

bool SerialDisplayClient::Quit(double limitMs) {
  const size_t mark = Mark();
  Send("quit");
  return WaitFor(mark, "sim-exit", 1, limitMs);
}

bool SerialDisplayClient::Restart(double limitMs) {
  const size_t mark = Mark();
  HANDLE file =
      CreateFileA((dir_ + "\\restart").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return WaitFor(mark, "ready", 1, limitMs);
}

bool SerialDisplayClient::CopyLogTo(const std::string& path) const {
  return CopyFileA((dir_ + "\\log").c_str(), path.c_str(), FALSE) != 0;
}

std::vector<uint8_t> HexBytesAfter(const std::string& text, const std::string& prefix) {
  std::vector<uint8_t> bytes;
  if (text.compare(0, prefix.size(), prefix) != 0) return bytes;
  std::istringstream in(text.substr(prefix.size()));
  for (std::string word; in >> word;)
    bytes.push_back(static_cast<uint8_t>(std::strtoul(word.c_str(), nullptr, 16)));
  return bytes;
}

}  // namespace zol::testing
