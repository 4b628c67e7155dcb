#include "sim/hid_sim_bus.h"

#include <algorithm>
#include <cstring>

#include "hid/hid_reports.h"

namespace zol::sim {

size_t SimHidBus::Add(const SimHidInterface& entry) {
  Entry added;
  added.config = entry;
  interfaces_.push_back(added);
  return interfaces_.size() - 1;
}

size_t SimHidBus::AddDisplay(const std::string& path, uint16_t product, HidEndpoint* device,
                             uint16_t version) {
  SimHidInterface entry;
  entry.path = path;
  entry.attributes = {hid::kVendorId, product, version};
  entry.device = device;
  return Add(entry);
}

void SimHidBus::Unplug(size_t index) {
  interfaces_[index].present = false;
  ++interfaces_[index].generation;
}

void SimHidBus::Replug(size_t index) {
  interfaces_[index].present = true;
}

int SimHidBus::OpenHandlesOf(size_t index) const {
  return static_cast<int>(std::count_if(handles_.begin(), handles_.end(), [index](const auto& h) {
    return h.second.index == index;
  }));
}

int SimHidBus::readsWithLength(size_t length) const {
  return static_cast<int>(std::count(readLengths_.begin(), readLengths_.end(), length));
}

bool SimHidBus::BeginList() {
  listed_.clear();
  if (failList_) return false;
  for (size_t i = 0; i < interfaces_.size(); ++i)
    if (interfaces_[i].present) listed_.push_back(i);
  listing_ = true;
  return true;
}

bool SimHidBus::PathAt(uint32_t index, char* path, size_t size) {
  listTimes_.push_back(clock_.Now());
  if (!listing_ || index >= listed_.size() || size == 0) return false;
  const std::string& name = interfaces_[listed_[index]].config.path;
  const size_t length = std::min(name.size(), size - 1);
  std::memcpy(path, name.data(), length);
  path[length] = '\0';
  return true;
}

void SimHidBus::EndList() {
  if (!listing_) ++misuses_;
  listing_ = false;
  listed_.clear();
}

HidHandle SimHidBus::OpenHandleOf(const char* path, bool query) {
  for (size_t i = 0; i < interfaces_.size(); ++i) {
    Entry& entry = interfaces_[i];
    if (!entry.present || entry.config.path != path) continue;
    if (query ? entry.config.failQueryOpen : entry.config.failOpen) return 0;
    if (!query && entry.config.failSecondOpen && OpenHandlesOf(i) > 0) return 0;
    const HidHandle handle = nextHandle_++;
    handles_[handle] = OpenHandle{i, query, entry.generation};
    ++(query ? entry.stats.queryOpens : entry.stats.opens);
    return handle;
  }
  return 0;
}

HidHandle SimHidBus::OpenForQuery(const char* path) {
  return OpenHandleOf(path, true);
}

HidHandle SimHidBus::Open(const char* path) {
  return OpenHandleOf(path, false);
}

void SimHidBus::Close(HidHandle handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) {
    ++misuses_;
    return;
  }
  ++interfaces_[it->second.index].stats.closes;
  handles_.erase(it);
}

SimHidBus::Entry* SimHidBus::Live(HidHandle handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) {
    ++misuses_;
    return nullptr;
  }
  Entry& entry = interfaces_[it->second.index];
  if (!entry.present || entry.generation != it->second.generation) return nullptr;
  return &entry;
}

SimHidBus::Entry* SimHidBus::LiveForIo(HidHandle handle, uint32_t* error) {
  auto it = handles_.find(handle);
  if (it != handles_.end() && it->second.query) {
    ++misuses_;
    *error = error_code::kAccessDenied;
    return nullptr;
  }
  Entry* entry = Live(handle);
  if (entry == nullptr) *error = kSimErrorDeviceNotConnected;
  return entry;
}

bool SimHidBus::Attributes(HidHandle handle, HidAttributes* attributes) {
  Entry* entry = Live(handle);
  if (entry == nullptr || entry->config.failAttributes) return false;
  *attributes = entry->config.attributes;
  return true;
}

bool SimHidBus::ReportLengths(HidHandle handle, HidReportLengths* lengths) {
  Entry* entry = Live(handle);
  if (entry == nullptr || entry->config.failReportLengths) return false;
  *lengths = entry->config.lengths;
  return true;
}

bool SimHidBus::SetInputBuffers(HidHandle handle, uint32_t count) {
  uint32_t error = 0;
  Entry* entry = LiveForIo(handle, &error);
  if (entry == nullptr || count < 2 || count > 512) return false;
  entry->stats.inputBuffers = count;
  return true;
}

uint32_t SimHidBus::Write(HidHandle handle, const uint8_t* report, size_t length,
                          uint32_t timeoutMs) {
  uint32_t error = 0;
  Entry* entry = LiveForIo(handle, &error);
  if (entry == nullptr) return error;
  writes_.push_back(WriteRecord{
      clock_.Now(), static_cast<size_t>(entry - interfaces_.data()), {report, report + length}});
  if (entry->config.writesStall) {
    clock_.Sleep(timeoutMs);
    return error_code::kTimeout;
  }
  if (writeCostMs_ != 0) clock_.Sleep(writeCostMs_);
  if (entry->config.writeError != 0) return entry->config.writeError;
  if (length != entry->config.lengths.output) return kSimErrorInvalidParameter;
  if (entry->config.device != nullptr) entry->config.device->OnOutputReport(report, length);
  return 0;
}

HidReadResult SimHidBus::TakeReport(HidHandle handle, uint8_t* buffer, size_t length,
                                    uint32_t* error) {
  ++reads_;
  readLengths_.push_back(length);
  lastReadLength_ = length;
  *error = 0;
  Entry* entry = LiveForIo(handle, error);
  if (entry == nullptr) return HidReadResult::Failed;
  if (entry->config.readError != 0) {
    *error = entry->config.readError;
    return HidReadResult::Failed;
  }
  const size_t inputLength = entry->config.lengths.input;
  if (length < inputLength) {
    *error = kSimErrorInvalidParameter;
    return HidReadResult::Failed;
  }
  if (entry->config.device == nullptr) return HidReadResult::NotReady;

  uint8_t report[hid::kReportBytes * 8];
  const size_t got = entry->config.device->PeekInput(report, sizeof report);
  if (got == 0) return HidReadResult::NotReady;
  entry->config.device->PopInput();
  // The class driver hands over reports of the announced length: longer ones are cut,
  // shorter ones padded with zeros.
  std::memset(buffer, 0, inputLength);
  std::memcpy(buffer, report, std::min(got, inputLength));
  return HidReadResult::Report;
}

}  // namespace zol::sim
