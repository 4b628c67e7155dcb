// Turns key codes from either link into named key events and injected keystrokes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/clock.h"
#include "core/shared_state.h"
#include "input/held_keys.h"
#include "input/host_link.h"
#include "input/input_watcher.h"
#include "input/key_injector.h"

namespace zol {

// Runs on the worker thread only; no call blocks. Key events go to the host through HostLink,
// which copies each name, so every event reaches the host with the name composed for it even
// when the next one reuses the name buffer at once.
class InputTranslator {
 public:
  InputTranslator(HostLink& host, KeyInjector& injector, Clock& clock, SharedState& shared);

  // Key naming.

  // Codes 1 to 64 name a row of keyNameTable (value 0); 63 switches the routing mode on and 64
  // off, with or without a host, and post nothing. Code 0, empty rows and codes above 64 post
  // nothing; codes above 64 leave the mode alone.
  void HandleFunctionKey(uint8_t code);
  // Routing keys of either link: a value outside the display's text cells, [0, textCellCount),
  // is not delivered but told to the watcher; nor is any value while the count is 0.
  //
  // "Routing" (or "Routing2" in routing mode) with the code as value; codes with bit 7 set are
  // dropped.
  void HandleHidRoutingKey(uint8_t code);
  // Bit 7 of the code selects the second set of names like the routing mode does. With two
  // status cells, keys 1 and 2 are status keys and routing values are shifted past them.
  void HandleSerialRoutingKey(uint8_t code);
  // Text typed on the display, posted as "qwerty:" followed by the text (posted even without a
  // host). At most `available` bytes are read from text (the rest of the packet), up to the
  // first zero byte: a text without a zero byte ends with its payload. Text longer than 119
  // characters is cut to 119 so that the name keeps its 126-character limit; the count is not
  // used.
  void HandleKeyboardText(const uint8_t* text, size_t available, uint8_t count);

  // Keyboard emulation.

  // 0-127: the ASCII character; 128-255: the code page 437 character (highCharTable); each
  // typed as SendCharacter does. 256-382: specialKeyTable[code - 256]; nothing above that.
  void HandleCharacterCode(uint16_t code);
  // One byte of a scan-code set 2 sequence: 0xE0 and 0xF0 set the extended and release flags;
  // other codes of 0xE0 and above are dropped and leave the flags as they were; any other code
  // is injected as the key's set 1 make code with the collected flags (a release is the make
  // code with the release flag), which are then cleared. The Ctrl code 0x14 also reports a
  // 3-byte tick record to the host's OnDeviceData first. Keys pressed are held until their
  // release, which is injected whether or not the key is held.
  void HandleScanCode(uint16_t code);
  // The link has ended (closed, suspended, lent out, lost or shut down): every key still held
  // is released, the last pressed first, and a half-received prefix is forgotten, so that no
  // modifier stays down and the next link's first key is not taken as extended or released.
  // The host is told nothing (no OnDeviceData for Ctrl): it may be closing.
  void ReleaseHeldKeys();
  // A character (no flags, or the space), a special key (flag 0x04; dots is the command code)
  // or a chord named "KBD" / "shift KBD" (flag 0x02) plus its dot numbers, posted with value 0.
  void HandleBrailleKeys(uint8_t flags, uint8_t dots, uint8_t character);
  // Holds Shift, Ctrl and Alt as the key word asks, presses and releases its virtual key, and
  // lets the modifiers go in the order they were pressed.
  void SendKeyWord(uint16_t keyWord);

  int32_t routingMode() const { return routingMode_; }
  uint32_t scanCodeFlags() const { return scanCodeFlags_; }
  size_t heldKeyCount() const { return heldKeys_.count(); }
  // Set before the worker thread starts; null (the default) tells nobody.
  void SetWatcher(InputWatcher* watcher) { watcher_ = watcher; }

 private:
  // Types the character of a Windows-1252 code. A character that a key of the layout produces
  // with Shift, Ctrl and Alt at most is typed as that key word (SendKeyWord). Any other
  // printable character is typed as Unicode input, so that it still arrives on a layout
  // without a plain key for it; a control character without a key, and the five codes that
  // name no character, type nothing.
  void SendCharacter(uint8_t code);
  void PostChordName(uint8_t flags, uint8_t dots);
  void PostRoutingKey(const char* name, int32_t value);
  void ReportCtrlScanCode();

  HostLink& host_;
  KeyInjector& injector_;
  Clock& clock_;
  SharedState& shared_;
  int32_t routingMode_ = 0;
  uint32_t scanCodeFlags_ = 0;
  HeldKeys heldKeys_;
  InputWatcher* watcher_ = nullptr;
  // Composed names ("qwerty:" text, "KBD" chords); overwritten by the next one.
  char keyNameBuffer_[128] = {};
};

}  // namespace zol
