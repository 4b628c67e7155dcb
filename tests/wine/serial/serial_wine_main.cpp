#include <gtest/gtest.h>

#include <cstdio>

#include "serial_wine_port.h"

namespace zol::wine {
const char* serialPortName = nullptr;
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: serial_wine_test COMn [gtest options]\n");
    return 2;
  }
  zol::wine::serialPortName = argv[1];
  return RUN_ALL_TESTS();
}
