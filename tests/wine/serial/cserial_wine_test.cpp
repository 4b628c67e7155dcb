// CSerial on a pty: the simulated display answers every good packet with an acknowledgement,
// which gives each test something to read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/c_serial.h"
#include "serial/serial_codec.h"
#include "serial_wine_port.h"
#include "sim/serial_display.h"

namespace zol::win32 {
namespace {

using ::testing::ElementsAreArray;

constexpr DWORD kGenerousMs = 10000;
const std::vector<uint8_t> kAck = {0x01, 0x02, 0x7F, 0x00, 0x03, 0xD1, 0xAA};

// Wine's serial emulation differs from Windows in a few results; the tests state both.
bool OnWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

std::string DevicePath(const char* name) {
  return std::string("\\\\.\\") + name;
}

// A packet of a type the display does not know: it only acknowledges it.
const std::vector<uint8_t> kProbe = sim::SerialPacketBytes(18, {0x42});

// Polls non-blocking reads until count bytes arrived or the time is up.
std::vector<uint8_t> ReadBytes(CSerial& port, size_t count, DWORD limitMs = kGenerousMs) {
  std::vector<uint8_t> bytes;
  const DWORD start = GetTickCount();
  while (bytes.size() < count && GetTickCount() - start < limitMs) {
    uint8_t buffer[64];
    DWORD read = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<size_t>(sizeof buffer, count - bytes.size()));
    EXPECT_EQ(port.Read(buffer, wanted, &read, nullptr, INFINITE), 0);
    bytes.insert(bytes.end(), buffer, buffer + read);
    if (read == 0) Sleep(10);
  }
  return bytes;
}

void ExpectRoundTrip(CSerial& port, DWORD timeoutMs = 1000) {
  DWORD written = 0;
  ASSERT_EQ(
      port.Write(kProbe.data(), static_cast<DWORD>(kProbe.size()), &written, nullptr, timeoutMs),
      0);
  EXPECT_EQ(written, kProbe.size());
  EXPECT_THAT(ReadBytes(port, kAck.size()), ElementsAreArray(kAck));
}

class CSerialWine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(port.Open(wine::serialPortName, 0, 0, true), 0);
    ASSERT_EQ(port.Setup(38400, 8, NOPARITY, ONESTOPBIT), 0);
  }

  CSerial port;
};

TEST_F(CSerialWine, ConfiguresTheLine) {
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.GetBaudRate(), 38400);
  EXPECT_EQ(port.GetDataBits(), 8);
  EXPECT_EQ(port.GetParity(), NOPARITY);
  EXPECT_EQ(port.GetStopBits(), ONESTOPBIT);
  EXPECT_EQ(port.GetEventMask(), static_cast<DWORD>(EV_RXCHAR | EV_BREAK | EV_ERR));

  EXPECT_EQ(port.Setup(9600, 7, EVENPARITY, TWOSTOPBITS), 0);
  EXPECT_EQ(port.GetBaudRate(), 9600);
  EXPECT_EQ(port.GetStopBits(), TWOSTOPBITS);
  // A pty's line discipline always keeps eight data bits without parity.
  EXPECT_EQ(port.GetDataBits(), 8);
  EXPECT_EQ(port.GetParity(), NOPARITY);
  EXPECT_EQ(port.Setup(38400, 8, NOPARITY, ONESTOPBIT), 0);
  ExpectRoundTrip(port);
}

TEST_F(CSerialWine, SetsAndReportsFlowControl) {
  EXPECT_EQ(port.SetHandshake(CSerial::kHandshakeSoftware), 0);
  EXPECT_EQ(port.GetHandshake(), CSerial::kHandshakeSoftware);
  EXPECT_EQ(port.SetHandshake(3), E_INVALIDARG);
  EXPECT_EQ(port.lastError(), E_INVALIDARG);
  EXPECT_EQ(port.GetHandshake(), CSerial::kHandshakeSoftware);  // unchanged
  EXPECT_EQ(port.SetReadTimeoutMode(2), E_INVALIDARG);

  EXPECT_EQ(port.SetHandshake(CSerial::kHandshakeHardware), 0);
  // Wine keeps only CTS flow control and reads DTR and RTS control back as "enabled".
  EXPECT_EQ(port.GetHandshake(), OnWine() ? CSerial::kHandshakeOff : CSerial::kHandshakeHardware);
  EXPECT_EQ(port.SetHandshake(CSerial::kHandshakeOff), 0);
  EXPECT_EQ(port.GetHandshake(), CSerial::kHandshakeOff);
  ExpectRoundTrip(port);
}

TEST_F(CSerialWine, SetupPinnedSwitchesOffFlowControlLeftOnThePort) {
  // Windows keeps a port's settings from one program to the next, and so does a pty.
  ASSERT_EQ(port.SetHandshake(CSerial::kHandshakeSoftware), 0);
  port.Close();
  ASSERT_EQ(port.Open(wine::serialPortName, 0, 0, true), 0);
  EXPECT_EQ(port.GetHandshake(), CSerial::kHandshakeSoftware);
  EXPECT_EQ(port.SetupPinned(38400, 8, NOPARITY, ONESTOPBIT, 1000), 0);
  EXPECT_EQ(port.GetHandshake(), CSerial::kHandshakeOff);
  EXPECT_EQ(port.GetBaudRate(), 38400);
  // Bytes a software flow control would swallow pass.
  const std::vector<uint8_t> probe = sim::SerialPacketBytes(18, {0x11, 0x13, 0x11});
  DWORD written = 0;
  ASSERT_EQ(port.Write(probe.data(), static_cast<DWORD>(probe.size()), &written, nullptr, 1000), 0);
  EXPECT_THAT(ReadBytes(port, kAck.size()), ElementsAreArray(kAck));
}

TEST_F(CSerialWine, SetsTheEventCharacterAndMask) {
  EXPECT_EQ(port.SetEventChar('x', true), 0);
  // Wine does not keep an event character.
  EXPECT_EQ(port.GetEventChar(), OnWine() ? 0 : 'x');
  EXPECT_EQ(port.GetEventMask(), static_cast<DWORD>(EV_RXCHAR | EV_BREAK | EV_ERR | EV_RXFLAG));
  EXPECT_EQ(port.SetEventMask(EV_RXCHAR), 0);
  EXPECT_EQ(port.GetEventMask(), static_cast<DWORD>(EV_RXCHAR));
  EXPECT_EQ(port.TakeEventType(), 0u);
}

TEST_F(CSerialWine, WritesAndReadsWithoutWaitingForData) {
  // Nothing has arrived: every read returns at once with no bytes.
  const DWORD start = GetTickCount();
  for (int i = 0; i < 20; ++i) {
    uint8_t buffer[80];
    DWORD read = 99;
    EXPECT_EQ(port.Read(buffer, sizeof buffer, &read, nullptr, INFINITE), 0);
    EXPECT_EQ(read, 0u);
  }
  EXPECT_LT(GetTickCount() - start, kGenerousMs);
  ExpectRoundTrip(port);
  EXPECT_EQ(port.WriteByte(0x00), 0);
  EXPECT_EQ(port.WriteText("", nullptr, nullptr, 1000), 0);
}

TEST_F(CSerialWine, BlockingReadTimesOutAndTheIoIsCancelled) {
  ASSERT_EQ(port.SetReadTimeoutMode(CSerial::kReadBlocking), 0);
  uint8_t buffer[16];
  DWORD read = 99;
  EXPECT_EQ(port.Read(buffer, sizeof buffer, &read, nullptr, 200), ERROR_TIMEOUT);
  EXPECT_EQ(port.lastError(), ERROR_TIMEOUT);
  EXPECT_EQ(read, 0u);
  // The cancelled read took nothing away: the port works as before.
  ASSERT_EQ(port.SetReadTimeoutMode(CSerial::kReadNonBlocking), 0);
  ExpectRoundTrip(port);
}

TEST_F(CSerialWine, BlockingReadTakesTheRequestedCount) {
  ASSERT_EQ(port.SetReadTimeoutMode(CSerial::kReadBlocking), 0);
  DWORD written = 0;
  ASSERT_EQ(port.Write(kProbe.data(), static_cast<DWORD>(kProbe.size()), &written, nullptr, 1000),
            0);
  uint8_t buffer[7];
  DWORD read = 0;
  EXPECT_EQ(port.Read(buffer, sizeof buffer, &read, nullptr, kGenerousMs), 0);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + read), kAck);
}

TEST_F(CSerialWine, WaitsForEvents) {
  ASSERT_EQ(port.SetEventMask(EV_RXCHAR), 0);
  if (OnWine()) {
    // Wine cannot watch a pty's lines: every wait for events ends at once, aborted, and says so.
    EXPECT_EQ(port.WaitForEvent(nullptr, 200), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(port.TakeEventType(), 0u);
    ExpectRoundTrip(port);
    GTEST_SKIP() << "waiting for serial events on a pty is not supported by Wine";
  }
  EXPECT_EQ(port.WaitForEvent(nullptr, 200), ERROR_TIMEOUT);

  // With the caller's record the wait runs on while the data arrives.
  OVERLAPPED record = {};
  record.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_EQ(port.WaitForEvent(&record, INFINITE), 0);
  DWORD written = 0;
  ASSERT_EQ(port.Write(kProbe.data(), static_cast<DWORD>(kProbe.size()), &written, nullptr, 1000),
            0);
  EXPECT_EQ(WaitForSingleObject(record.hEvent, kGenerousMs), WAIT_OBJECT_0);
  EXPECT_EQ(port.TakeEventType(), static_cast<DWORD>(EV_RXCHAR));
  EXPECT_EQ(port.TakeEventType(), 0u);
  CloseHandle(record.hEvent);
  EXPECT_THAT(ReadBytes(port, kAck.size()), ElementsAreArray(kAck));
}

TEST_F(CSerialWine, SecondOpenIsRefusedAndTheFirstStaysOpen) {
  EXPECT_EQ(port.Open(wine::serialPortName, 0, 0, true), ERROR_ALREADY_INITIALIZED);
  EXPECT_TRUE(port.IsOpen());
  ExpectRoundTrip(port);
}

TEST_F(CSerialWine, CloseReleasesThePortAndDestructionClosesIt) {
  EXPECT_EQ(port.Close(), 0);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Close(), 0);
  {
    CSerial other;
    ASSERT_EQ(other.Open(wine::serialPortName, 0, 0, true), 0);
  }
  ASSERT_EQ(port.Open(wine::serialPortName, 1024, 1024, true), 0);
  ExpectRoundTrip(port);
}

TEST_F(CSerialWine, ProbesPorts) {
  EXPECT_EQ(CSerial::ProbePort("COM199"), 1);
  EXPECT_EQ(CSerial::ProbePort("\\\\.\\COM199"), 1);
  const std::string path = DevicePath(wine::serialPortName);
  // Held open by this test's object; Wine does not make serial ports exclusive.
  EXPECT_EQ(CSerial::ProbePort(path.c_str()), OnWine() ? 0 : 2);
  port.Close();
  EXPECT_EQ(CSerial::ProbePort(path.c_str()), 0);
}

TEST_F(CSerialWine, PortNamesTooLongForTheDevicePathAreRefused) {
  CSerial other;
  EXPECT_EQ(other.Open(std::string(60, 'C').c_str(), 0, 0, true), ERROR_INVALID_NAME);
  EXPECT_FALSE(other.IsOpen());
  EXPECT_EQ(other.Open(nullptr, 0, 0, true), ERROR_INVALID_NAME);
  const LONG longest = other.Open(std::string(59, 'C').c_str(), 0, 0, true);
  EXPECT_NE(longest, 0);
  EXPECT_NE(longest, ERROR_INVALID_NAME);
  EXPECT_FALSE(other.IsOpen());
}

TEST_F(CSerialWine, PurgesSendsABreakAndAsksForTheModemLines) {
  EXPECT_EQ(port.PurgeBuffers(), 0);
  EXPECT_EQ(port.SendBreak(), 0);
  EXPECT_EQ(port.GetCommErrors(), 0u);
  EXPECT_EQ(port.lastError(), 0);
  // A pty has no modem lines: the status query fails, and each line reads as off.
  for (bool on : {port.IsCtsOn(), port.IsDsrOn(), port.IsRingOn(), port.IsRlsdOn()}) {
    EXPECT_FALSE(on);
    EXPECT_NE(port.lastError(), 0);
  }
  ExpectRoundTrip(port);
}

TEST(CSerialWineSynchronous, RefusesTimeOutsAndReadsAtOnce) {
  CSerial port;
  ASSERT_EQ(port.Open(wine::serialPortName, 0, 0, false), 0);
  uint8_t buffer[16];
  DWORD read = 0;
  EXPECT_EQ(port.Read(buffer, sizeof buffer, &read, nullptr, 1000), ERROR_INVALID_FUNCTION);
  OVERLAPPED record = {};
  EXPECT_EQ(port.Read(buffer, sizeof buffer, &read, &record, INFINITE), ERROR_INVALID_FUNCTION);
  EXPECT_EQ(port.Read(buffer, sizeof buffer, &read, nullptr, INFINITE), 0);
  EXPECT_EQ(read, 0u);
  ExpectRoundTrip(port, INFINITE);
}

TEST(CSerialWineClosed, EveryOperationReportsTheMissingPort) {
  CSerial port;
  uint8_t buffer[4] = {};
  DWORD count = 0;
  EXPECT_EQ(port.Setup(38400, 8, 0, 0), ERROR_INVALID_HANDLE);
  EXPECT_EQ(port.SetEventChar('x', true), ERROR_INVALID_HANDLE);
  EXPECT_EQ(port.SetEventMask(EV_RXCHAR), ERROR_INVALID_HANDLE);
  EXPECT_EQ(port.WaitForEvent(nullptr, INFINITE), ERROR_INVALID_HANDLE);
  EXPECT_EQ(port.SetHandshake(1), ERROR_INVALID_HANDLE);
  EXPECT_EQ(port.SetReadTimeoutMode(0), ERROR_INVALID_HANDLE);
  EXPECT_EQ(port.GetBaudRate(), -1);
  EXPECT_EQ(port.GetDataBits(), -1);
  EXPECT_EQ(port.GetParity(), -1);
  EXPECT_EQ(port.GetStopBits(), -1);
  EXPECT_EQ(port.GetHandshake(), -1);
  EXPECT_EQ(port.lastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(port.GetEventMask(), 0u);
  EXPECT_EQ(port.lastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(port.GetEventChar(), 0);
  EXPECT_EQ(port.lastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(port.WriteText("abc", &count, nullptr, 1000), ERROR_INVALID_HANDLE);
  EXPECT_EQ(port.Write(buffer, 4, &count, nullptr, 1000), ERROR_INVALID_HANDLE);
  EXPECT_EQ(port.Read(buffer, 4, &count, nullptr, INFINITE), ERROR_INVALID_HANDLE);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(port.Close(), 0);

  EXPECT_EQ(port.PurgeBuffers(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(port.SendBreak(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(port.GetCommErrors(), 0u);
  EXPECT_EQ(port.lastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(port.WriteByte(0), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(port.IsCtsOn());
  EXPECT_NE(port.lastError(), 0);
  EXPECT_EQ(port.TakeEventType(), 0u);
}

}  // namespace
}  // namespace zol::win32
