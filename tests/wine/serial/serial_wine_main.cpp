#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "serial_wine_port.h"

namespace zol::wine {
const char* serialPortName = nullptr;
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  zol::wine::serialPortName = std::getenv("ZOL_E2E_COM");
  if (zol::wine::serialPortName == nullptr) {
    std::fprintf(stderr, "serial_wine_test: run it through scripts/with-serial-display.sh\n");
    return 2;
  }
  return RUN_ALL_TESTS();
}
