// A cooperating program that borrows the display's serial port from the driver through the
// "kt316sharemem" block, as a separate process:
//   share_borrower COMn
// Creates the block, waits for the driver to publish its COM number, asks for the port (101),
// waits for the release (102), opens the port itself and sends the display an identify request,
// closes it and gives the port back (200). Prints each step; exits 0 when every step happened
// within its time limit.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "serial/serial_codec.h"

namespace {

bool WaitForWord(volatile LONG* word, LONG value, DWORD limitMs) {
  const DWORD start = GetTickCount();
  while (*word != value) {
    if (GetTickCount() - start > limitMs) return false;
    Sleep(10);
  }
  return true;
}

int Fail(const char* step, volatile LONG* word) {
  std::printf("borrower: %s (word %ld)\n", step, word ? static_cast<long>(*word) : 0L);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string com = argv[1];
  const LONG number = std::atoi(com.c_str() + 3);
  HANDLE section =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 255, "kt316sharemem");
  if (section == nullptr) return Fail("no section", nullptr);
  auto* word = static_cast<volatile LONG*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 255));
  if (word == nullptr) return Fail("no view", nullptr);
  std::printf("borrower: ready\n");
  std::fflush(stdout);

  if (!WaitForWord(word, number, 20000)) return Fail("COM number never published", word);
  std::printf("borrower: published %ld\n", static_cast<long>(*word));
  *word = 101;
  if (!WaitForWord(word, 102, 5000)) return Fail("port never released", word);
  std::printf("borrower: released, identify bytes %ld %ld\n", static_cast<long>(word[1]),
              static_cast<long>(word[2]));

  const std::string path = "\\\\.\\" + com;
  HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (port == INVALID_HANDLE_VALUE) return Fail("cannot open the lent port", word);
  uint8_t packet[16];
  const size_t size = zol::BuildSerialPacket(zol::PKT_IDENTIFY, 0, nullptr, packet, sizeof packet);
  DWORD written = 0;
  const bool sent =
      WriteFile(port, packet, static_cast<DWORD>(size), &written, nullptr) && written == size;
  Sleep(300);
  CloseHandle(port);
  if (!sent) return Fail("cannot write to the lent port", word);
  std::printf("borrower: used the port\n");

  *word = 200;
  if (!WaitForWord(word, 0, 5000)) return Fail("port never taken back", word);
  std::printf("borrower: given back\n");
  UnmapViewOfFile(const_cast<LONG*>(word));
  CloseHandle(section);
  return 0;
}
