// What Wine's HID class stack does where the test-only fake stack has to choose: input
// buffering per handle, opens without access rights, report IDs and lengths, and the errors a
// removed device gives. Each fact is printed as "[ fact ] ..." and checked, so a Wine that
// behaves otherwise shows here first (tests/wine/hid/README.md lists them against the fake).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <hidsdi.h>
}

#include "hid/hid_reports.h"
#include "hid_pipe_server.h"
#include "platform/win32/win32_clock.h"
#include "sim/hid_display.h"
#include "wine_hid_stack.h"

namespace zol::hidstack {
namespace {

class WineHidStackFacts : public ::testing::Test {
 protected:
  void SetUp() override {
    server = std::make_unique<sim::HidPipeServer>(sim::HidPipeServer::PipePath("hidstack-facts"),
                                                  display);
    server->SetInputBuffers(sim::HidPipeServer::kCarrierBuffers);
    ASSERT_TRUE(server->Start());
    std::string error;
    ASSERT_TRUE(device.Plug(server->path(), hid::kVendorId, hid::kProduct40, hid::kVersion, &error))
        << error;
  }
  void TearDown() override {
    device.Unplug();
    server->Stop();
  }

  HANDLE OpenDevice(DWORD access, DWORD flags = 0) {
    return CreateFileA(device.interfacePath().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, flags, nullptr);
  }
  // Queues count key reports and waits until the minidriver has taken them all.
  void Burst(int count) {
    const int before = server->reportsDelivered();
    for (int i = 0; i < count; ++i) display.PressRoutingKey(static_cast<uint8_t>(i));
    const DWORD start = GetTickCount();
    while (server->reportsDelivered() < before + count && GetTickCount() - start < 10000) Sleep(5);
    ASSERT_EQ(server->reportsDelivered(), before + count);
    Sleep(100);  // the class driver files the last of them
  }
  // Reads until nothing more is waiting; how many reports came.
  static int Drain(HANDLE file) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    int count = 0;
    for (;;) {
      uint8_t report[hid::kReportBytes];
      OVERLAPPED overlapped{};
      overlapped.hEvent = event;
      DWORD done = 0;
      if (!ReadFile(file, report, sizeof report, nullptr, &overlapped) &&
          GetLastError() != ERROR_IO_PENDING)
        break;
      if (WaitForSingleObject(event, 200) != WAIT_OBJECT_0) {
        CancelIoEx(file, &overlapped);
        GetOverlappedResult(file, &overlapped, &done, TRUE);
        break;
      }
      if (!GetOverlappedResult(file, &overlapped, &done, FALSE)) break;
      ++count;
    }
    CloseHandle(event);
    return count;
  }

  win32::Win32Clock clock;
  sim::HidDisplay display{clock, sim::HidDisplay::Model40()};
  std::unique_ptr<sim::HidPipeServer> server;
  VirtualHidDevice device;
};

TEST_F(WineHidStackFacts, InputBuffersPerHandle) {
  HANDLE file = OpenDevice(GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ULONG buffers = 0;
  ASSERT_TRUE(HidD_GetNumInputBuffers(file, &buffers));
  std::printf("[ fact ] input buffers of a new handle: %lu\n", buffers);
  Burst(40);
  const int kept = Drain(file);
  std::printf("[ fact ] reports kept of 40 sent while nobody read: %d\n", kept);
  EXPECT_EQ(kept, static_cast<int>(buffers)) << "the oldest are dropped";

  const BOOLEAN raised = HidD_SetNumInputBuffers(file, 512);
  ULONG now = 0;
  HidD_GetNumInputBuffers(file, &now);
  const BOOLEAN tooMany = HidD_SetNumInputBuffers(file, 513);
  const DWORD tooManyError = GetLastError();
  const BOOLEAN tooFew = HidD_SetNumInputBuffers(file, 1);
  const DWORD tooFewError = GetLastError();
  EXPECT_FALSE(tooMany);
  EXPECT_FALSE(tooFew);
  std::printf(
      "[ fact ] SetNumInputBuffers 512: %d (now %lu), 513: %d (error %lu), 1: %d (error %lu)\n",
      raised, now, tooMany, tooManyError, tooFew, tooFewError);
  EXPECT_TRUE(raised);
  EXPECT_EQ(now, 512u);
  HidD_SetNumInputBuffers(file, 512);
  Burst(100);
  EXPECT_EQ(Drain(file), 100) << "a raised buffer keeps a burst";
  CloseHandle(file);
}

TEST_F(WineHidStackFacts, OpensWithoutAccessRightsAndReportIdsAndLengths) {
  HANDLE query = OpenDevice(0);
  ASSERT_NE(query, INVALID_HANDLE_VALUE) << GetLastError();
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  const BOOLEAN named = HidD_GetAttributes(query, &attributes);
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  const BOOLEAN described = HidD_GetPreparsedData(query, &preparsed);
  if (described) HidD_FreePreparsedData(preparsed);
  uint8_t report[hid::kReportBytes] = {};
  DWORD done = 0;
  const BOOL read = ReadFile(query, report, sizeof report, &done, nullptr);
  const DWORD readError = GetLastError();
  const BOOL wrote = WriteFile(query, report, sizeof report, &done, nullptr);
  const DWORD writeError = GetLastError();
  std::printf(
      "[ fact ] zero-access open: attributes %d, preparsed data %d, read %d (error %lu), "
      "write %d (error %lu)\n",
      named, described, read, readError, wrote, writeError);
  EXPECT_TRUE(named);
  EXPECT_TRUE(described);
  EXPECT_EQ(attributes.ProductID, hid::kProduct40);
  EXPECT_FALSE(read);
  EXPECT_FALSE(wrote);
  EXPECT_EQ(readError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(query);

  HANDLE file = OpenDevice(GENERIC_READ | GENERIC_WRITE);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  // Wine checks only that a write holds a whole report: the first byte is sent as report ID 0
  // whatever it says (the device has no IDs), and what follows the report is not sent.
  struct Case {
    const char* what;
    std::vector<uint8_t> report;
    bool accepted;
  } writes[] = {
      {"report ID 1, which the device lacks", {1, 0xFB, 0xAA, 0x55, 0, 0, 0, 0, 0}, true},
      {"8 bytes, one short", {0, 0xFB, 0xAA, 0x55, 0, 0, 0, 0}, false},
      {"10 bytes, one long", {0, 0xFB, 0xAA, 0x55, 0, 0, 0, 0, 0, 0}, true},
  };
  for (const Case& c : writes) {
    const size_t reports = display.outputReports().size();
    SetLastError(0);
    const BOOL ok =
        WriteFile(file, c.report.data(), static_cast<DWORD>(c.report.size()), &done, nullptr);
    const DWORD error = GetLastError();
    Sleep(50);
    const auto sent = display.outputReports();
    std::printf("[ fact ] write of %s: %d (error %lu, %lu written), reached the display: %s\n",
                c.what, ok, error, done,
                sent.size() > reports ? (std::to_string(sent.back().size()) + " bytes, ID " +
                                         std::to_string(sent.back()[0]))
                                            .c_str()
                                      : "nothing");
    EXPECT_EQ(ok != FALSE, c.accepted) << c.what;
    if (!c.accepted) {
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
  }
  display.PressRoutingKey(3);
  uint8_t small[hid::kPayloadBytes];
  const BOOL shortRead = ReadFile(file, small, sizeof small, &done, nullptr);
  const DWORD shortError = GetLastError();
  std::printf("[ fact ] read into 8 bytes: %d (error %lu)\n", shortRead, shortError);
  EXPECT_FALSE(shortRead);
  EXPECT_EQ(shortError, static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  CloseHandle(file);
}

// The outcome of an overlapped request that has been started: waits up to 2 s for one that is
// pending, and cancels it if it has not completed by then. error is the request's last error.
BOOL Finish(HANDLE file, OVERLAPPED* overlapped, BOOL started, DWORD* error) {
  *error = GetLastError();
  if (started || *error != ERROR_IO_PENDING) return started;
  DWORD done = 0;
  const BOOL ok = WaitForSingleObject(overlapped->hEvent, 2000) == WAIT_OBJECT_0 &&
                  GetOverlappedResult(file, overlapped, &done, FALSE);
  *error = GetLastError();
  if (!ok) {
    CancelIoEx(file, overlapped);
    GetOverlappedResult(file, overlapped, &done, TRUE);
  }
  return ok;
}

TEST_F(WineHidStackFacts, ErrorsOfARemovedDevice) {
  HANDLE file = OpenDevice(GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const std::string path = device.interfacePath();
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED pending{};
  pending.hEvent = event;
  uint8_t report[hid::kReportBytes];
  ASSERT_FALSE(ReadFile(file, report, sizeof report, nullptr, &pending));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  ASSERT_TRUE(device.Unplug());

  DWORD done = 0;
  const bool completed = WaitForSingleObject(event, 5000) == WAIT_OBJECT_0;
  const BOOL pendingOk = completed && GetOverlappedResult(file, &pending, &done, FALSE);
  const DWORD pendingError = GetLastError();
  if (!completed) {
    CancelIoEx(file, &pending);
    GetOverlappedResult(file, &pending, &done, TRUE);
  }
  std::printf("[ fact ] read pending at removal: completed %d, ok %d (error %lu)\n", completed,
              pendingOk, completed ? pendingError : 0ul);
  EXPECT_TRUE(completed);
  EXPECT_FALSE(pendingOk);
  // Wine's class driver fails a removed device's requests with STATUS_DELETE_PENDING.
  EXPECT_EQ(pendingError, static_cast<DWORD>(ERROR_ACCESS_DENIED));

  ResetEvent(event);
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  const BOOL readStarted = ReadFile(file, report, sizeof report, nullptr, &overlapped);
  DWORD readError = 0;
  const BOOL readOk = Finish(file, &overlapped, readStarted, &readError);
  ResetEvent(event);
  overlapped = OVERLAPPED{};
  overlapped.hEvent = event;
  const uint8_t request[hid::kReportBytes] = {0, 0xFB, 0xAA, 0x55};
  const BOOL writeStarted = WriteFile(file, request, sizeof request, nullptr, &overlapped);
  DWORD writeError = 0;
  const BOOL writeOk = Finish(file, &overlapped, writeStarted, &writeError);
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  const BOOLEAN named = HidD_GetAttributes(file, &attributes);
  const DWORD namedError = GetLastError();
  HANDLE again =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  const DWORD openError = GetLastError();
  std::printf(
      "[ fact ] after removal: read %d (error %lu), write %d (error %lu), attributes %d "
      "(error %lu), reopen %s (error %lu)\n",
      readOk, readError, writeOk, writeError, named, namedError,
      again == INVALID_HANDLE_VALUE ? "failed" : "worked", openError);
  EXPECT_FALSE(readOk);
  EXPECT_FALSE(writeOk);
  EXPECT_EQ(readError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(writeError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(again, INVALID_HANDLE_VALUE);
  EXPECT_EQ(openError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
  CloseHandle(event);
  CloseHandle(file);
}

}  // namespace
}  // namespace zol::hidstack
