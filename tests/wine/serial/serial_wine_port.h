// The COM port that the test runner linked to the simulated display.
#pragma once

namespace zol::wine {
extern const char* serialPortName;
}
