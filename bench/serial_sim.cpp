#include "serial_sim.h"

#include <cstdlib>
#include <sstream>

#include "bench_support.h"
#include "sim_control_fifo.h"

namespace zol::bench {

SerialSim::SerialSim() {
  const char* dir = std::getenv("ZOL_E2E_CONTROL");
  const char* com = std::getenv("ZOL_E2E_COM");
  if (dir == nullptr || com == nullptr) return;
  dir_ = dir;
  com_ = com;
  fifo_ = simctl::OpenControlFifo(dir_);
  log_ = CreateFileA((dir_ + "\\log").c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     0, nullptr);
}

SerialSim::~SerialSim() {
  if (fifo_ != INVALID_HANDLE_VALUE) CloseHandle(fifo_);
  if (log_ != INVALID_HANDLE_VALUE) CloseHandle(log_);
}

void SerialSim::Send(const std::string& text) {
  simctl::WriteControlLine(fifo_, text);
}

const std::vector<SimLine>& SerialSim::Lines() {
  char chunk[65536];
  DWORD got = 0;
  while (log_ != INVALID_HANDLE_VALUE && ReadFile(log_, chunk, sizeof chunk, &got, nullptr) &&
         got > 0)
    partial_.append(chunk, got);
  size_t start = 0;
  for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
    SimLine line;
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

size_t SerialSim::Find(size_t from, const std::string& prefix) {
  const std::vector<SimLine>& lines = Lines();
  for (size_t i = from; i < lines.size(); ++i)
    if (lines[i].text.compare(0, prefix.size(), prefix) == 0) return i;
  return lines.size();
}

bool SerialSim::WaitFor(size_t from, const std::string& prefix, double limitMs) {
  return PumpUntil([&] { return Find(from, prefix) < lines_.size(); }, limitMs);
}

bool SerialSim::Quit() {
  const size_t mark = Mark();
  Send("quit");
  return WaitFor(mark, "sim-exit", 5000);
}

bool SerialSim::Restart() {
  const size_t mark = Mark();
  HANDLE file =
      CreateFileA((dir_ + "\\restart").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return WaitFor(mark, "ready", 5000);
}

bool SerialSim::CopyLogTo(const std::string& path) const {
  return CopyFileA((dir_ + "\\log").c_str(), path.c_str(), FALSE) != 0;
}

std::vector<uint8_t> SimLineBytes(const SimLine& line) {
  std::vector<uint8_t> bytes;
  std::istringstream words(line.text);
  std::string direction, type, word;
  words >> direction >> type;
  while (words >> word)
    bytes.push_back(static_cast<uint8_t>(std::strtoul(word.c_str(), nullptr, 16)));
  return bytes;
}

}  // namespace zol::bench
