#include "pty_endpoint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace zol::tools {

PtyEndpoint::~PtyEndpoint() {
  if (!linkPath_.empty()) {
    // Remove the link only while it still points at this pty.
    char target[PATH_MAX];
    const ssize_t n = readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (n > 0) {
      target[n] = '\0';
      if (slavePath_ == target) unlink(linkPath_.c_str());
    }
  }
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

bool PtyEndpoint::Open() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    error_ = std::string("cannot create a pty: ") + std::strerror(errno);
    return false;
  }
  char name[PATH_MAX];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    error_ = std::string("cannot name the pty: ") + std::strerror(errno);
    return false;
  }
  slavePath_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY);
  if (slave_ < 0) {
    error_ = "cannot open " + slavePath_ + ": " + std::strerror(errno);
    return false;
  }
  termios settings;
  if (tcgetattr(slave_, &settings) == 0) {
    cfmakeraw(&settings);
    cfsetspeed(&settings, B38400);
    tcsetattr(slave_, TCSANOW, &settings);
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  return true;
}

bool PtyEndpoint::Link(const std::string& linkPath) {
  struct stat info;
  if (lstat(linkPath.c_str(), &info) == 0) {
    if (!S_ISLNK(info.st_mode)) {
      error_ = linkPath + " exists and is not a symbolic link";
      return false;
    }
    unlink(linkPath.c_str());
  }
  if (symlink(slavePath_.c_str(), linkPath.c_str()) != 0) {
    error_ = "cannot link " + linkPath + ": " + std::strerror(errno);
    return false;
  }
  linkPath_ = linkPath;
  return true;
}

}  // namespace zol::tools
