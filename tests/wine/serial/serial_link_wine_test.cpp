// The serial link over the Windows port against the simulated display on a pty: the display
// identifies as 80 text cells with 4 status cells, acknowledges the display frame, then
// presses F1 and types "hi" (see link_display.script).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_serial_port.h"
#include "serial/com_port_number.h"
#include "serial/serial_link.h"
#include "serial_wine_port.h"
#include "testing/link_stack.h"

namespace zol {
namespace {

constexpr DWORD kGenerousMs = 20000;

TEST(SerialLinkWine, IdentifiesTheDisplayAndExchangesPackets) {
  win32::Win32SerialPortFactory ports;
  win32::Win32Clock clock;
  testing::LinkStack<SerialLink> stack(ports, clock);
  auto& [shared, ack, host, injector, input, link] = stack;

  ASSERT_EQ(link.OpenSerialPort(wine::serialPortName), 1);
  ASSERT_EQ(link.SerialHandshake(wine::serialPortName), 1);
  EXPECT_EQ(shared.textCellCount.load(), 80);
  EXPECT_EQ(shared.statusCellCount.load(), 4);
  EXPECT_EQ(link.comPortNumber(), ComPortNumber(wine::serialPortName));

  const std::vector<uint8_t> cells(42, 0x3C);
  link.SendSerialPacket(PKT_CELLS, 42, cells.data());
  EXPECT_EQ(ack.ackPending, 1);

  // The poll tick's work: read what arrived, every 20 ms.
  const DWORD start = GetTickCount();
  while ((ack.ackPending != 0 || host.events.size() < 2) && GetTickCount() - start < kGenerousMs) {
    link.ReadAndDispatch(80);
    Sleep(20);
  }
  EXPECT_EQ(ack.ackPending, 0);
  ASSERT_EQ(host.events.size(), 2u);
  EXPECT_EQ(host.events[0].name, "F1");
  EXPECT_EQ(host.events[1].name, "qwerty:hi");

  link.ClosePort();
  EXPECT_FALSE(link.PortOpen());
}

}  // namespace
}  // namespace zol
