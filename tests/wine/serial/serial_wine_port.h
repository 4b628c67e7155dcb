// The COM port that scripts/with-serial-display.sh linked to the simulated display.
#pragma once

namespace zol::wine {
extern const char* serialPortName;
}
