// zol.dll end to end on the serial link: a plain-C host drives the driver through its slots,
// and the simulated serial display on a pty plays the device.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "keyboard_watch.h"

namespace zol::e2e {
namespace {

using Bytes = std::vector<uint8_t>;

int ComNumber(const std::string& com) {
  return std::atoi(com.c_str() + 3);
}

class SerialE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.ok()) << "run through scripts/with-serial-display.sh --control";
    ASSERT_TRUE(dll.ok());
    sim.Send("identify 40 2");
    sim.Send("ack all");
    sim.Send("identify on");
  }

  bool Open(const std::string& port) {
    return CDriverOpen(dll.driver, port.c_str(), dll.host, "", "") == 1;
  }
  // Writes text cells and waits for the frame that carries them; returns its data.
  Bytes WriteTextAndWait(const Bytes& cells) {
    const size_t mark = sim.Mark();
    if (CDriverWriteTextCells(dll.driver, cells.data(), static_cast<int32_t>(cells.size())) == 0)
      return {};
    if (!sim.WaitFor(mark, "rx CELLS")) return {};
    return HexBytesAfter(sim.LinesSince(mark, "rx CELLS").back(), "rx CELLS");
  }
  // Writes every few hundred ms until the driver refuses the write; the number of writes.
  int WriteUntilSuspended(int limit, DWORD spacingMs) {
    const Bytes cells = HostCells(40, 1);
    for (int i = 1; i <= limit; ++i) {
      if (CDriverWriteTextCells(dll.driver, cells.data(), 40) == 0) return i;
      Pump(spacingMs);
    }
    return 0;
  }

  SerialDisplayClient sim;
  LoadedDriver dll;
};

TEST_F(SerialE2E, WritesArriveInDeviceOrderAndKeysReachTheOpeningThread) {
  CDriverClose(dll.driver);  // before any Open: returns at once
  std::string lower = sim.com();
  for (char& c : lower) c = static_cast<char>(tolower(c));
  ASSERT_TRUE(Open(lower));
  EXPECT_EQ(CDriverGetTextCellCount(dll.driver), 40);
  EXPECT_EQ(CDriverGetStatusCellCount(dll.driver), 2);

  const Bytes text = HostCells(40, 1);
  Bytes expected = {0, 0};
  for (uint8_t b : DeviceCells(text)) expected.push_back(b);
  EXPECT_EQ(WriteTextAndWait(text), expected) << "status cells first, text cells after them";

  const Bytes all = HostCells(42, 0x81);
  EXPECT_EQ(WriteTextAndWait({}), Bytes{}) << "a write of no cells is refused";
  size_t mark = sim.Mark();
  ASSERT_NE(CDriverWriteAllCells(dll.driver, all.data(), 42), 0);
  ASSERT_TRUE(sim.WaitFor(mark, "rx CELLS"));
  EXPECT_EQ(HexBytesAfter(sim.LinesSince(mark, "rx CELLS").back(), "rx CELLS"), DeviceCells(all));

  sim.Send("key F1");
  sim.Send("route 5");
  sim.Send("route 1");
  sim.Send("route 0x86");
  sim.Send("key SLDN");
  sim.Send("text hi");
  ASSERT_TRUE(PumpUntil([&] { return CHostKeyCount(dll.host) >= 6; }, kWaitMs));
  const struct {
    const char* name;
    int32_t value;
  } keys[] = {{"F1", 0},       {"Routing", 3}, {"STATUS1", 0},
              {"Routing2", 4}, {"SLDN", 0},    {"qwerty:hi", 0}};
  for (int i = 0; i < 6; ++i) {
    EXPECT_STREQ(CHostKeyName(dll.host, i), keys[i].name);
    EXPECT_EQ(CHostKeyValue(dll.host, i), keys[i].value) << keys[i].name;
    EXPECT_EQ(CHostKeyThread(dll.host, i), GetCurrentThreadId()) << keys[i].name;
    EXPECT_EQ(CHostKeyDriver(dll.host, i), dll.driver);
  }

  CDriverClose(dll.driver);
  mark = sim.Mark();
  EXPECT_EQ(CDriverWriteTextCells(dll.driver, text.data(), 40), 0);
  sim.Send("key F2");
  Pump(1500);
  EXPECT_TRUE(sim.LinesSince(mark, "rx ").empty()) << "nothing is sent after Close";
  EXPECT_EQ(FindKey(dll.host, "F2"), -1) << "no key after Close";
  CDriverClose(dll.driver);

  // Open again on the same display: it identifies once more and shows the next write, with
  // the status cells the driver kept from before.
  mark = sim.Mark();
  ASSERT_TRUE(Open(sim.com()));
  EXPECT_TRUE(sim.WaitFor(mark, "rx IDENTIFY"));
  expected[0] = MapDotsToDevice(all[0]);
  expected[1] = MapDotsToDevice(all[1]);
  EXPECT_EQ(WriteTextAndWait(text), expected);
}

// Keys reach the host as they arrive, and frames the display as soon as the one before is
// acknowledged, also while the host writes as fast as it can. Loose bounds: the figures come
// from the benchmark.
TEST_F(SerialE2E, KeysAndFramesFlowWhileTheHostWritesBackToBack) {
  ASSERT_TRUE(Open(sim.com()));
  for (int i = 0; i < 30; ++i) sim.Send("key " + std::to_string(1 + i % 10));
  ASSERT_TRUE(PumpUntil([&] { return CHostKeyCount(dll.host) >= 30; }, 3000));
  for (int i = 0; i < 30; ++i)
    EXPECT_EQ(std::string(CHostKeyName(dll.host, i)), "F" + std::to_string(1 + i % 10)) << i;

  std::atomic<bool> stop{false};
  std::atomic<int> lastAccepted{-1};
  std::thread writer([&] {
    for (int n = 0; !stop.load(); ++n) {
      const Bytes text = HostCells(40, static_cast<uint8_t>(n));
      if (CDriverWriteTextCells(dll.driver, text.data(), 40) != 0) lastAccepted.store(n);
    }
  });
  int frames = sim.Count("CELLS");
  for (int round = 0; round < 20; ++round) {
    const int keys = CHostKeyCount(dll.host);
    sim.Send("key F2");
    EXPECT_TRUE(PumpUntil([&] { return CHostKeyCount(dll.host) > keys; }, 500)) << round;
    Pump(300);
    const int now = sim.Count("CELLS");
    EXPECT_GT(now, frames) << "the display froze in round " << round;
    frames = now;
  }
  stop.store(true);
  writer.join();
  const Bytes expected = DeviceCells(HostCells(40, static_cast<uint8_t>(lastAccepted.load())));
  EXPECT_TRUE(PumpUntil(
      [&] {
        const Bytes frame = sim.LastFrame();
        return frame.size() == 42 && std::equal(frame.begin() + 2, frame.end(), expected.begin());
      },
      1000))
      << "the last write is shown";
}

TEST_F(SerialE2E, ASilentDisplayHoldsOpenForTheIdentifyWindowOnly) {
  sim.Send("identify off");
  const size_t mark = sim.Mark();
  const DWORD start = GetTickCount();
  EXPECT_FALSE(Open(sim.com()));
  const DWORD took = GetTickCount() - start;
  EXPECT_LT(took, 6000u) << "1000 ms, the HID search and a 2000 ms window";
  EXPECT_EQ(sim.LinesSince(mark, "rx IDENTIFY").size(), 4u);
}

std::string FolderOf(HMODULE module) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, sizeof path);
  const std::string text(path);
  return text.substr(0, text.find_last_of("\\/"));
}

// A hid.dll and a setupapi.dll that export nothing lie beside this program and beside zol.dll
// (planted_dll.c): the driver's HID search loads neither, and Open goes on to the serial port.
TEST_F(SerialE2E, DllsNamedLikeSystemDllsBesideHostAndDriverAreNotLoaded) {
  for (HMODULE module : {static_cast<HMODULE>(nullptr), dll.module})
    for (const char* name : {"hid.dll", "setupapi.dll"}) {
      const std::string planted = FolderOf(module) + "\\" + name;
      ASSERT_NE(GetFileAttributesA(planted.c_str()), INVALID_FILE_ATTRIBUTES) << planted;
    }
  ASSERT_TRUE(Open(sim.com()));
  for (const char* name : {"hid", "setupapi"}) {
    const std::string marker =
        "Local\\zol-planted-" + std::string(name) + "-" + std::to_string(GetCurrentProcessId());
    HANDLE loaded = OpenEventA(SYNCHRONIZE, FALSE, marker.c_str());
    EXPECT_EQ(loaded, nullptr) << name << ".dll beside the host or the driver was loaded";
    if (loaded != nullptr) CloseHandle(loaded);
  }
}

// Another program left XON/XOFF and CTS flow control on the port: packets whose bytes include
// 0x11 and 0x13 still pass both ways.
TEST_F(SerialE2E, FlowControlLeftOnThePortByAnotherProgramIsSwitchedOff) {
  HANDLE port = CreateFileA(("\\\\.\\" + sim.com()).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(port, &dcb));
  dcb.fOutX = dcb.fInX = TRUE;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.fOutxCtsFlow = TRUE;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  EXPECT_TRUE(SetCommState(port, &dcb));
  CloseHandle(port);

  ASSERT_TRUE(Open(sim.com()));
  sim.Send("key 17");  // SF1, code 0x11
  sim.Send("key 19");  // SF3, code 0x13
  sim.Send("key 1");
  ASSERT_TRUE(PumpUntil([&] { return FindKey(dll.host, "F1") >= 0; }, 3000));
  EXPECT_EQ(FindKey(dll.host, "SF1"), 0);
  EXPECT_EQ(FindKey(dll.host, "SF3"), 1);
  const Bytes text = HostCells(40, 0x10);  // device patterns 0x10 to 0x37: 0x11, 0x13 among them
  Bytes expected = {0, 0};
  for (uint8_t b : DeviceCells(text)) expected.push_back(b);
  EXPECT_EQ(WriteTextAndWait(text), expected);
}

TEST_F(SerialE2E, EightyCellDisplayWithFourStatusCells) {
  sim.Send("identify 80 4");
  ASSERT_TRUE(Open(sim.com()));
  EXPECT_EQ(CDriverGetTextCellCount(dll.driver), 80);
  EXPECT_EQ(CDriverGetStatusCellCount(dll.driver), 4);
  EXPECT_EQ(CDriverGetTotalCellCount(dll.driver), 84);
  const Bytes text = HostCells(80, 1);
  Bytes expected = {0, 0, 0, 0};
  const Bytes device = DeviceCells(text);
  expected.insert(expected.end(), device.begin(), device.begin() + 38);
  EXPECT_EQ(WriteTextAndWait(text), expected) << "the serial frame carries the first 42 cells";
  sim.Send("route 5");
  ASSERT_TRUE(PumpUntil([&] { return CHostKeyCount(dll.host) >= 1; }, kWaitMs));
  EXPECT_STREQ(CHostKeyName(dll.host, 0), "Routing");
  EXPECT_EQ(CHostKeyValue(dll.host, 0), 5) << "no status shift unless there are 2 status cells";
}

TEST_F(SerialE2E, FourMissingAcknowledgementsSuspendAndResumingRecovers) {
  ASSERT_TRUE(Open(sim.com()));
  sim.Send("ack none");
  const int writes = WriteUntilSuspended(12, 700);
  EXPECT_GE(writes, 5) << "the first four frames go out";
  ASSERT_NE(writes, 0) << "the driver never suspended itself";
  EXPECT_EQ(CDriverClearDisplay(dll.driver), 0);

  sim.Send("ack all");
  const size_t mark = sim.Mark();
  EXPECT_EQ(CDriverSetSuspended(dll.driver, 0), 1);
  EXPECT_TRUE(sim.WaitFor(mark, "rx IDENTIFY")) << "the display identifies again";
  const Bytes text = HostCells(40, 0x41);
  const Bytes frame = WriteTextAndWait(text);
  ASSERT_EQ(frame.size(), 42u);
  EXPECT_EQ(Bytes(frame.begin() + 2, frame.end()), DeviceCells(text));
}

TEST_F(SerialE2E, ClosedWhileSuspendedItOpensAgain) {
  ASSERT_TRUE(Open(sim.com()));
  EXPECT_EQ(CDriverSetSuspended(dll.driver, 1), 1);
  CDriverClose(dll.driver);
  const size_t mark = sim.Mark();
  const DWORD start = GetTickCount();
  ASSERT_TRUE(Open(sim.com())) << "after " << GetTickCount() - start << " ms";
  EXPECT_TRUE(sim.WaitFor(mark, "rx IDENTIFY"));
  const Bytes text = HostCells(40, 0x0F);
  EXPECT_EQ(WriteTextAndWait(text).size(), 42u) << "writes are accepted again";
}

// Letting go leaves the display blank before the port closes: Close and SetSuspended(1) with
// the display answering, Close with a display that acknowledges nothing (at most 500 ms spent
// on it) and with one the driver already lost (nothing spent). The driver's trace says what it
// waited for; the duration of Close itself is printed, as Wine's timing under load is no test.
TEST_F(SerialE2E, LettingGoLeavesTheDisplayBlank) {
  DriverTrace trace;
  const Bytes blank(42, 0);
  const Bytes text = HostCells(40, 0x21);
  auto lastFrameSince = [&](size_t mark) {
    if (!sim.WaitFor(mark, "rx CELLS")) return Bytes{};
    return HexBytesAfter(sim.LinesSince(mark, "rx CELLS").back(), "rx CELLS");
  };
  auto closeTimed = [&](const char* what) {
    const DWORD start = GetTickCount();
    CDriverClose(dll.driver);
    const DWORD ms = GetTickCount() - start;
    std::printf("[ close ] serial, %s: Close took %lu ms\n", what, static_cast<unsigned long>(ms));
    return ms;
  };

  // Close, and suspend then resume then Close, with the display answering.
  ASSERT_TRUE(Open(sim.com()));
  ASSERT_EQ(WriteTextAndWait(text).size(), 42u);
  Pump(200);  // the acknowledgement is taken
  size_t mark = sim.Mark();
  closeTimed("display answering");
  EXPECT_EQ(lastFrameSince(mark), blank);
  EXPECT_THAT(trace.TakeNew(),
              ::testing::HasSubstr("display blanked before closing, acknowledged"));

  ASSERT_TRUE(Open(sim.com()));
  ASSERT_EQ(WriteTextAndWait(text).size(), 42u);
  Pump(200);
  mark = sim.Mark();
  EXPECT_EQ(CDriverSetSuspended(dll.driver, 1), 1);
  EXPECT_EQ(lastFrameSince(mark), blank);
  EXPECT_THAT(trace.TakeNew(),
              ::testing::HasSubstr("display blanked before closing, acknowledged"));
  mark = sim.Mark();
  EXPECT_EQ(CDriverSetSuspended(dll.driver, 0), 1);
  const Bytes shown = lastFrameSince(mark);
  ASSERT_EQ(shown.size(), 42u);
  EXPECT_EQ(Bytes(shown.begin() + 2, shown.end()), DeviceCells(text)) << "resumed, shown again";
  Pump(200);
  mark = sim.Mark();
  closeTimed("display answering, after a resume");
  EXPECT_EQ(lastFrameSince(mark), blank);

  // A display that acknowledges nothing.
  sim.Send("ack none");
  ASSERT_TRUE(Open(sim.com()));
  ASSERT_EQ(WriteTextAndWait(text).size(), 42u);
  trace.TakeNew();
  mark = sim.Mark();
  EXPECT_LT(closeTimed("display acknowledging nothing"), 5000u);
  EXPECT_EQ(lastFrameSince(mark), blank);
  EXPECT_THAT(trace.TakeNew(), ::testing::HasSubstr("blank frame sent before closing, no "
                                                    "acknowledgement after 5"));
  sim.Send("ack all");

  // A display the driver has lost: it has suspended itself after four missing
  // acknowledgements.
  ASSERT_TRUE(Open(sim.com()));
  sim.Send("ack none");
  ASSERT_NE(WriteUntilSuspended(12, 700), 0);
  trace.TakeNew();
  mark = sim.Mark();
  closeTimed("display lost");
  EXPECT_TRUE(sim.LinesSince(mark, "rx CELLS").empty());
  const std::string lost = trace.TakeNew();
  EXPECT_THAT(lost, ::testing::Not(::testing::HasSubstr("before closing, acknowledged")));
  EXPECT_THAT(lost, ::testing::Not(::testing::HasSubstr("no acknowledgement after")));
  sim.Send("ack all");
}

// What other programs may send: every number that once was a command of the worker thread,
// with a forged pointer, posted to every thread of this process, and WM_CLOSE sent to the hidden
// window from another thread. The driver neither crashes nor stops taking keys and writes.
TEST_F(SerialE2E, ForeignMessagesNeitherCrashNorStopTheDriver) {
  ASSERT_TRUE(Open(sim.com()));
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  int threads = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
    ++threads;
    for (UINT message = 1026; message <= 1034; ++message)
      PostThreadMessageA(entry.th32ThreadID, message, static_cast<WPARAM>(0xDEAD0000u + message),
                         40);
    PostThreadMessageA(entry.th32ThreadID, WM_TIMER, 0xDEAD, 0);
  }
  CloseHandle(snapshot);
  EXPECT_GE(threads, 2);
  Pump(300);
  std::atomic<bool> sent{false};
  std::thread closer([&sent] {
    HWND window = FindWindowExA(HWND_MESSAGE, nullptr, "ZOL", nullptr);
    DWORD_PTR result = 0;
    if (window != nullptr) SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_NORMAL, 5000, &result);
    sent.store(window != nullptr);
  });
  EXPECT_TRUE(PumpUntil([&] { return sent.load(); }, 10000)) << "the hidden window was found";
  closer.join();

  const int keys = CHostKeyCount(dll.host);
  sim.Send("key F4");
  EXPECT_TRUE(PumpUntil([&] { return FindKey(dll.host, "F4", keys) >= 0; }, 5000));
  const Bytes text = HostCells(40, 0x44);
  EXPECT_EQ(WriteTextAndWait(text).size(), 42u);
}

// The host calls back into the driver from inside its callbacks: a suspend and resume from
// OnKeyEvent (a "toggle braille" key) returns at once, and a Close from OnDeviceData (on the
// worker thread) is finished by this thread; keys keep reaching it, and a later Open works.
TEST_F(SerialE2E, CallsFromInsideCallbacksNeverWaitOnThemselves) {
  struct Reentry {
    std::atomic<int> pending{0};  // 1: toggle from OnKeyEvent, 2: Close from OnDeviceData
    std::atomic<DWORD> elapsedMs{~0u};
    static void Hook(void* context, void* driver, const char* name) {
      auto* self = static_cast<Reentry*>(context);
      const int want = name != nullptr ? 1 : 2;
      int expected = want;
      if (!self->pending.compare_exchange_strong(expected, 0)) return;
      const DWORD start = GetTickCount();
      if (want == 1) {
        CDriverSetSuspended(driver, 1);
        CDriverSetSuspended(driver, 0);
      } else {
        CDriverClose(driver);
      }
      self->elapsedMs.store(GetTickCount() - start);
    }
  } reentry;
  CHostSetHook(dll.host, &Reentry::Hook, &reentry);
  ASSERT_TRUE(Open(sim.com()));

  reentry.pending.store(1);
  sim.Send("key F5");
  ASSERT_TRUE(PumpUntil([&] { return reentry.pending.load() == 0; }, 5000));
  std::printf("[ reentry ] suspend and resume from OnKeyEvent: %lu ms\n",
              static_cast<unsigned long>(reentry.elapsedMs.load()));
  EXPECT_LT(reentry.elapsedMs.load(), 500u);
  Pump(2000);  // the resume reconnects
  int keys = CHostKeyCount(dll.host);
  sim.Send("key F6");
  ASSERT_TRUE(PumpUntil([&] { return FindKey(dll.host, "F6", keys) >= 0; }, 5000));
  EXPECT_EQ(CHostKeyThread(dll.host, FindKey(dll.host, "F6", keys)), GetCurrentThreadId());

  reentry.pending.store(2);
  const size_t mark = sim.Mark();
  sim.Send("scan 20");  // left Ctrl: OnDeviceData first
  ASSERT_TRUE(PumpUntil([&] { return reentry.pending.load() == 0; }, 5000));
  std::printf("[ reentry ] Close from OnDeviceData: %lu ms\n",
              static_cast<unsigned long>(reentry.elapsedMs.load()));
  EXPECT_LT(reentry.elapsedMs.load(), 500u);
  EXPECT_TRUE(sim.WaitFor(mark, "rx CELLS")) << "closed: the display is left blank";
  Pump(300);
  keys = CHostKeyCount(dll.host);
  sim.Send("key F7");
  Pump(500);
  EXPECT_EQ(FindKey(dll.host, "F7", keys), -1) << "closed";
  CHostSetHook(dll.host, nullptr, nullptr);
  ASSERT_TRUE(Open(sim.com()));
  sim.Send("key F8");
  EXPECT_TRUE(PumpUntil([&] { return FindKey(dll.host, "F8", keys) >= 0; }, 5000));
}

// The keys pass on to the system, so that its key state shows what a person would feel. Wine
// hands keys injected by scan code to the hook with virtual key 0 and keeps no key state for
// them: there only the scan codes can show a release that releases nothing.
TEST_F(SerialE2E, ModifierKeysOfTheDisplaysKeyboardGoUpAgain) {
  testing::KeyboardWatch watch(testing::KeyboardWatch::kPassOn);
  ASSERT_TRUE(watch.installed());
  ASSERT_TRUE(Open(sim.com()));
  // Set 2: left Ctrl, left Shift, right Ctrl (0xE0 prefix), each pressed and released (0xF0).
  for (int code : {0x14, 0xF0, 0x14, 0x12, 0xF0, 0x12, 0xE0, 0x14, 0xE0, 0xF0, 0x14})
    sim.Send("scan " + std::to_string(code));
  EXPECT_THAT(testing::ScanCodes(watch.WaitFor(6)),
              ::testing::ElementsAre(testing::ScanDown(0x1D, false), testing::ScanUp(0x1D, false),
                                     testing::ScanDown(0x2A, false), testing::ScanUp(0x2A, false),
                                     testing::ScanDown(0x1D, true), testing::ScanUp(0x1D, true)));
  for (int vk : {VK_LCONTROL, VK_RCONTROL, VK_LSHIFT}) {
    EXPECT_EQ(GetAsyncKeyState(vk) & 0x8000, 0) << "virtual key 0x" << std::hex << vk;
    if (GetAsyncKeyState(vk) & 0x8000) keybd_event(static_cast<BYTE>(vk), 0, KEYEVENTF_KEYUP, 0);
  }
}

// The block is created as another account or an elevated program would leave it to this one:
// mapping for reading and writing is granted, every other right (deleting it, changing its
// permissions) refused.
TEST_F(SerialE2E, PortSharingPublishesReleasesAndTakesThePortBack) {
  HANDLE section = CreateReadWriteOnlySection("kt316sharemem", 255);
  ASSERT_NE(section, nullptr);
  auto* word = static_cast<volatile int32_t*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 255));
  ASSERT_NE(word, nullptr);
  sim.Send("identify 40 2 7 9");
  ASSERT_TRUE(Open(sim.com()));
  const int32_t com = ComNumber(sim.com());
  EXPECT_TRUE(PumpUntil([&] { return word[0] == com; }, kWaitMs)) << "the COM number is published";

  word[0] = 101;
  ASSERT_TRUE(PumpUntil([&] { return word[0] == 102; }, 5000));
  EXPECT_EQ(word[1], 7);
  EXPECT_EQ(word[2], 9);
  size_t mark = sim.Mark();
  const Bytes text = HostCells(40, 3);
  CDriverWriteTextCells(dll.driver, text.data(), 40);
  word[0] = 55;  // below 200: left alone while the port is lent
  Pump(1500);
  EXPECT_TRUE(sim.LinesSince(mark, "rx ").empty()) << "the driver leaves a lent port alone";
  EXPECT_EQ(word[0], 55);

  mark = sim.Mark();
  word[0] = 200;
  EXPECT_TRUE(PumpUntil([&] { return word[0] == 0 || word[0] == com; }, 5000));
  EXPECT_TRUE(sim.WaitFor(mark, "rx IDENTIFY")) << "the driver takes the port back";
  // The cells resent once the display answers may still come after this write's frame is
  // asked for: the display must end up showing the write.
  mark = sim.Mark();
  ASSERT_EQ(CDriverWriteTextCells(dll.driver, text.data(), 40), 1);
  Bytes frame;
  EXPECT_TRUE(PumpUntil(
      [&] {
        const auto frames = sim.LinesSince(mark, "rx CELLS");
        if (!frames.empty()) frame = HexBytesAfter(frames.back(), "rx CELLS");
        return frame.size() == 42u && Bytes(frame.begin() + 2, frame.end()) == DeviceCells(text);
      },
      kWaitMs));
  ASSERT_EQ(frame.size(), 42u);
  EXPECT_EQ(Bytes(frame.begin() + 2, frame.end()), DeviceCells(text));
  EXPECT_TRUE(PumpUntil([&] { return word[0] == com; }, 5000)) << "and publishes it again";

  // Lent out, blanked first; the loan ends with the session, and the next one works.
  mark = sim.Mark();
  word[0] = 101;
  ASSERT_TRUE(PumpUntil([&] { return word[0] == 102; }, 5000));
  ASSERT_TRUE(sim.WaitFor(mark, "rx CELLS"));
  EXPECT_EQ(HexBytesAfter(sim.LinesSince(mark, "rx CELLS").back(), "rx CELLS"), Bytes(42, 0));
  CDriverClose(dll.driver);
  ASSERT_TRUE(Open(sim.com()));
  EXPECT_TRUE(PumpUntil([&] { return word[0] == com; }, 5000)) << "the new session holds the port";
  const int keys = CHostKeyCount(dll.host);
  sim.Send("key F3");
  EXPECT_TRUE(PumpUntil([&] { return FindKey(dll.host, "F3", keys) >= 0; }, 5000));
  EXPECT_EQ(WriteTextAndWait(text).size(), 42u);

  CDriverClose(dll.driver);
  word[0] = 101;
  Pump(1000);
  EXPECT_EQ(word[0], 101) << "a closed driver no longer serves the block";
  UnmapViewOfFile(const_cast<int32_t*>(word));
  CloseHandle(section);
}

TEST_F(SerialE2E, AnotherProcessBorrowsThePortAndGivesItBack) {
  ASSERT_TRUE(Open(sim.com()));
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string command(self);
  command =
      "\"" + command.substr(0, command.find_last_of("\\/")) + "\\share_borrower.exe\" " + sim.com();
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  const size_t mark = sim.Mark();
  ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  // The driver's keys and connects need this thread's messages while the borrower works.
  EXPECT_TRUE(
      PumpUntil([&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; }, 60000));
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(exitCode, 0u);
  // The borrower's own request while the port was lent, then the driver's after taking it back.
  EXPECT_TRUE(sim.WaitFor(mark, "rx IDENTIFY", 2));
  const Bytes text = HostCells(40, 0x19);
  EXPECT_EQ(WriteTextAndWait(text).size(), 42u) << "the driver writes again";
}

}  // namespace
}  // namespace zol::e2e
