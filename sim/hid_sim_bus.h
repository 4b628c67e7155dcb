// A HidBus over simulated interfaces: displays, decoys, devices that fail to open or to
// answer, unplugging and replugging. Records what the link does with them.
//
// It behaves like the Windows HID class driver where the link could tell a difference: a write
// must pass exactly the output report length, a read must offer at least the input report
// length, a handle opened without access rights serves only attributes, I/O on the handles of
// an unplugged device fails with ERROR_DEVICE_NOT_CONNECTED, and those handles stay dead after
// it is plugged in again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/io_failure.h"
#include "hid/hid_bus.h"
#include "sim/hid_endpoint.h"

namespace zol::sim {

// Windows error codes the simulated bus reports besides access denied and time-out
// (error_code::kAccessDenied, error_code::kTimeout).
inline constexpr uint32_t kSimErrorInvalidParameter = 87;
inline constexpr uint32_t kSimErrorDeviceNotConnected = 1167;

struct SimHidInterface {
  std::string path;
  HidAttributes attributes;
  HidReportLengths lengths{9, 9};
  HidEndpoint* device = nullptr;  // null: takes writes, never sends anything
  bool failOpen = false;          // refuses reading and writing (a keyboard or mouse)
  bool failSecondOpen = false;    // the read channel cannot be opened
  bool failQueryOpen = false;
  bool failAttributes = false;
  bool failReportLengths = false;
  uint32_t readError = 0;    // reads fail with this code (0: they work)
  uint32_t writeError = 0;   // writes fail with this code (0: they work)
  bool writesStall = false;  // writes never complete: each takes its limit and is cancelled
};

class SimHidBus : public HidBus {
 public:
  explicit SimHidBus(Clock& clock) : clock_(clock) {}

  // Adds an interface after the others; returns its index.
  size_t Add(const SimHidInterface& entry);
  // A display interface with the display's identity (version 0xF100 unless given).
  size_t AddDisplay(const std::string& path, uint16_t product, HidEndpoint* device,
                    uint16_t version = 0xF100);
  SimHidInterface& at(size_t index) { return interfaces_[index].config; }
  void Unplug(size_t index);
  void Replug(size_t index);
  void set_failList(bool fail) { failList_ = fail; }
  // Every write takes this long on the clock (0 by default).
  void set_writeCostMs(uint32_t ms) { writeCostMs_ = ms; }

  struct WriteRecord {
    uint32_t time;  // when the write started
    size_t interfaceIndex;
    std::vector<uint8_t> report;
  };
  struct Stats {
    int opens = 0;              // successful opens for reading and writing
    int queryOpens = 0;         // successful opens without access rights
    int closes = 0;             // closes of an open handle
    uint32_t inputBuffers = 0;  // last count set on a handle of this interface
  };
  const std::vector<uint32_t>& listTimes() const { return listTimes_; }  // time of each PathAt
  const std::vector<WriteRecord>& writes() const { return writes_; }
  Stats stats(size_t index) const { return interfaces_[index].stats; }
  int openHandles() const { return static_cast<int>(handles_.size()); }
  int OpenHandlesOf(size_t index) const;
  int reads() const { return reads_; }
  int readsWithLength(size_t length) const;
  size_t lastReadLength() const { return lastReadLength_; }
  int misuses() const { return misuses_; }  // unknown handles, I/O on a query handle

  // HidBus
  bool BeginList() override;
  bool PathAt(uint32_t index, char* path, size_t size) override;
  void EndList() override;
  HidHandle OpenForQuery(const char* path) override;
  HidHandle Open(const char* path) override;
  void Close(HidHandle handle) override;
  bool Attributes(HidHandle handle, HidAttributes* attributes) override;
  bool ReportLengths(HidHandle handle, HidReportLengths* lengths) override;
  bool SetInputBuffers(HidHandle handle, uint32_t count) override;
  uint32_t Write(HidHandle handle, const uint8_t* report, size_t length,
                 uint32_t timeoutMs) override;
  HidReadResult TakeReport(HidHandle handle, uint8_t* buffer, size_t length,
                           uint32_t* error) override;
  // Input is polled: the link reads on every tick and whenever it is asked to.
  uintptr_t InputEvent() override { return 0; }

 private:
  struct Entry {
    SimHidInterface config;
    bool present = true;
    uint32_t generation = 0;  // bumped by every unplug
    Stats stats;
  };
  struct OpenHandle {
    size_t index;
    bool query;
    uint32_t generation;
  };
  HidHandle OpenHandleOf(const char* path, bool query);
  // The interface behind a live handle, or null (counted as a misuse when unknown).
  Entry* Live(HidHandle handle);
  // The interface behind a handle that may do I/O; null with *error set otherwise.
  Entry* LiveForIo(HidHandle handle, uint32_t* error);

  Clock& clock_;
  std::vector<Entry> interfaces_;
  std::vector<size_t> listed_;
  bool listing_ = false;
  bool failList_ = false;
  uint32_t writeCostMs_ = 0;
  std::map<HidHandle, OpenHandle> handles_;
  HidHandle nextHandle_ = 0x100;
  std::vector<uint32_t> listTimes_;
  std::vector<WriteRecord> writes_;
  std::vector<size_t> readLengths_;
  size_t lastReadLength_ = 0;
  int reads_ = 0;
  int misuses_ = 0;
};

}  // namespace zol::sim
