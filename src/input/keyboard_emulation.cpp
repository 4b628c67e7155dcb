// The keyboard-emulation half of InputTranslator: character codes, braille keyboard input and
// PC keyboard scan codes become keystrokes (or "KBD" key events).
#include "input/high_char_table.h"
#include "input/input_translator.h"
#include "input/key_word.h"
#include "input/name_builder.h"
#include "input/scan_code_table.h"
#include "input/special_key_table.h"
#include "input/windows1252.h"

namespace zol {

namespace {

constexpr uint16_t kFirstHighCharacter = 128;
constexpr uint16_t kFirstSpecialKey = 256;

constexpr uint8_t kBrailleCommandFlag = 0x04;
constexpr uint8_t kBrailleShiftFlag = 0x02;
constexpr uint8_t kSpace = 0x20;

constexpr uint16_t kScanCodeExtendedPrefix = 0xE0;
constexpr uint16_t kScanCodeReleasePrefix = 0xF0;
constexpr uint16_t kScanCodeCtrl = 0x14;
constexpr uint16_t kScanCodeMakeMask = 0x7F;  // a break code without its break bit

// Shift states of a key word that SendKeyWord can hold: Shift, Ctrl and Alt. A layout's answer
// with any other bit (Hankaku, the layout's own states, or -1 for no key) would type another
// character if only those three were held.
constexpr uint16_t kKeyWordHeldStates = kKeyWordShift | kKeyWordCtrl | kKeyWordAlt;

bool Typable(int16_t keyWord) {
  return (static_cast<uint16_t>(keyWord) & 0xFF00 & ~kKeyWordHeldStates) == 0;
}

// Control characters are typed only by a key of the layout (Enter, Tab, Ctrl+letter): as
// Unicode input they would reach the window as raw control codes.
bool Printable(char16_t character) {
  return character >= 0x20 && character != 0x7F;
}

// Key word of a command code, or 0 when the code has no key.
uint16_t SpecialKey(size_t command) {
  return command < specialKeyTable.size() ? specialKeyTable[command] : 0;
}

}  // namespace

void InputTranslator::SendKeyWord(uint16_t keyWord) {
  static constexpr struct {
    uint16_t bit;
    uint8_t vk;
  } kModifiers[] = {{kKeyWordShift, kVkShift}, {kKeyWordCtrl, kVkControl}, {kKeyWordAlt, kVkMenu}};

  for (const auto& modifier : kModifiers) {
    if ((keyWord & modifier.bit) != 0) injector_.VirtualKey(modifier.vk, 0);
  }
  const uint8_t vk = keyWord & 0xFF;
  injector_.VirtualKey(vk, 0);
  injector_.VirtualKey(vk, kKeyEventKeyUp);
  for (const auto& modifier : kModifiers) {
    if ((keyWord & modifier.bit) != 0) injector_.VirtualKey(modifier.vk, kKeyEventKeyUp);
  }
}

void InputTranslator::SendCharacter(uint8_t code) {
  const char16_t character = Windows1252ToUtf16(code);
  if (character == kNoCharacter) return;
  const int16_t keyWord = injector_.KeyWordForChar(character);
  if (Typable(keyWord)) {
    SendKeyWord(static_cast<uint16_t>(keyWord));
  } else if (Printable(character)) {
    injector_.UnicodeCharacter(character);
  }
}

void InputTranslator::HandleCharacterCode(uint16_t code) {
  if (code < kFirstHighCharacter) {
    SendCharacter(static_cast<uint8_t>(code));
  } else if (code < kFirstSpecialKey) {
    SendCharacter(highCharTable[code - kFirstHighCharacter]);
  } else if (const uint16_t keyWord = SpecialKey(code - kFirstSpecialKey); keyWord != 0) {
    SendKeyWord(keyWord);
  }
}

void InputTranslator::HandleBrailleKeys(uint8_t flags, uint8_t dots, uint8_t character) {
  if (flags == 0 || character == kSpace) {
    SendCharacter(character);
  } else if ((flags & kBrailleCommandFlag) != 0) {
    if (const uint16_t keyWord = SpecialKey(dots); keyWord != 0) SendKeyWord(keyWord);
  } else {
    PostChordName(flags, dots);
  }
}

// "KBD" or "shift KBD" followed by the numbers of the pressed dots, lowest first (bit 0 is
// dot 1, bit 7 dot 8). There is no host test: without a host the event is dropped on delivery.
void InputTranslator::PostChordName(uint8_t flags, uint8_t dots) {
  NameBuilder name(keyNameBuffer_);
  name.Append((flags & kBrailleShiftFlag) != 0 ? "shift KBD" : "KBD");
  for (int dot = 1; dot <= 8; ++dot) {
    if ((dots & (1u << (dot - 1))) != 0) name.Append(static_cast<char>('0' + dot));
  }
  host_.PostKeyEvent(name.c_str(), 0);
}

void InputTranslator::HandleScanCode(uint16_t code) {
  if (code == kScanCodeExtendedPrefix) scanCodeFlags_ |= kKeyEventExtendedKey;
  if (code == kScanCodeReleasePrefix) scanCodeFlags_ |= kKeyEventKeyUp;
  // Prefixes only collect their flag; other codes this high (0xE1, 16-bit values) are dropped.
  if (code >= kScanCodeExtendedPrefix) return;

  if (code == kScanCodeCtrl && host_.HostSet()) ReportCtrlScanCode();

  // Press and release both carry the make code: the system finds the key of a scan code in the
  // layout's table of make codes, so a break code would release nothing and leave the key down.
  const uint16_t scan = scanCodeTable[code] & kScanCodeMakeMask;
  injector_.ScanCode(scan, scanCodeFlags_ | kKeyEventScanCode);
  // Scan code 0 is no key, and nothing can be left down by it.
  if (scan != 0) {
    const HeldKeys::Key key{static_cast<uint8_t>(scan),
                            (scanCodeFlags_ & kKeyEventExtendedKey) != 0};
    if ((scanCodeFlags_ & kKeyEventKeyUp) != 0) {
      heldKeys_.Release(key);
    } else {
      heldKeys_.Press(key);
    }
  }
  scanCodeFlags_ = 0;
}

void InputTranslator::ReleaseHeldKeys() {
  scanCodeFlags_ = 0;
  HeldKeys::Key key{};
  while (heldKeys_.TakeLast(&key)) {
    const uint32_t flags =
        kKeyEventKeyUp | kKeyEventScanCode | (key.extended ? kKeyEventExtendedKey : 0);
    injector_.ScanCode(key.make, flags);
    if (watcher_ != nullptr) watcher_->HeldKeyReleased(key.make, flags);
  }
}

// Tells the host that a Ctrl key went down or up: a 3-byte record of the low 16 bits of the
// tick count, low byte first, with the XOR of both bytes in the middle.
void InputTranslator::ReportCtrlScanCode() {
  const uint16_t ticks = static_cast<uint16_t>(clock_.SystemTickCount());
  const uint8_t low = ticks & 0xFF;
  const uint8_t high = ticks >> 8;
  const uint8_t record[3] = {low, static_cast<uint8_t>(low ^ high), high};
  host_.DeviceData(record, sizeof record);
}

}  // namespace zol
