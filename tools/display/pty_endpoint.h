// A pseudo-terminal whose slave side stands for the display's serial port. The slave is kept
// open here as well, in raw mode, so that the line stays up while a client opens and closes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zol::tools {

class PtyEndpoint {
 public:
  PtyEndpoint() = default;
  PtyEndpoint(const PtyEndpoint&) = delete;
  PtyEndpoint& operator=(const PtyEndpoint&) = delete;
  ~PtyEndpoint();

  // Creates the pty; false with a message in error() on failure.
  bool Open();
  // Makes linkPath a symbolic link to the slave, replacing an existing link (not a file).
  bool Link(const std::string& linkPath);

  const std::string& slavePath() const { return slavePath_; }
  const std::string& error() const { return error_; }
  // Non-blocking descriptor of the master side.
  int masterFd() const { return master_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::string linkPath_;
  std::string error_;
};

}  // namespace zol::tools
