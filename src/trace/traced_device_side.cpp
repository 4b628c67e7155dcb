#include "trace/traced_device_side.h"

namespace zol {

namespace {

const char* LinkName(LinkKind kind) {
  if (const hid::Model* model = hid::ModelOf(static_cast<int32_t>(kind))) return model->name;
  return kind == LinkKind::Serial ? "serial" : "none";
}

}  // namespace

TracedDeviceSide::TracedDeviceSide(const Platform& platform, SharedState& shared, HostLink& host,
                                   TraceSink& sink)
    : clock_(platform.clock),
      shared_(shared),
      log_(platform.clock, sink),
      hidBus_(platform.hidBus, log_),
      serialPorts_(platform.serialPorts, log_),
      host_(host, log_),
      input_(log_),
      core_(Platform{platform.clock, hidBus_, serialPorts_, platform.shareSection,
                     platform.keyInjector},
            shared, host_) {
  core_.input().SetWatcher(&input_);
}

TracedDeviceSide::LinkSnapshot TracedDeviceSide::Snapshot() {
  return LinkSnapshot{core_.linkKind(),
                      core_.hid().DeviceOpen(),
                      core_.serial().PortOpen(),
                      core_.portSharing().portReleased(),
                      core_.frameAck(),
                      core_.serial().serialRetryCount(),
                      hidBus_.closeCount(),
                      core_.connection().recovering(),
                      core_.connection().lastBlank().count,
                      core_.portSharing().refusedRequests()};
}

void TracedDeviceSide::ReportLink(const char* event) {
  log_.Line("%s: link %s, %d text cells, %d status cells", event, LinkName(core_.linkKind()),
            shared_.textCellCount.load(), shared_.statusCellCount.load());
}

void TracedDeviceSide::ReportBlank() {
  const ConnectionManager::BlankRecord& blank = core_.connection().lastBlank();
  switch (blank.outcome) {
    case ConnectionManager::BlankOutcome::kNoLink:
      break;
    case ConnectionManager::BlankOutcome::kLinkLost:
      log_.Line("display not blanked before closing: the link was already lost");
      break;
    case ConnectionManager::BlankOutcome::kAcknowledged:
      log_.Line("display blanked before closing, acknowledged after %u ms", blank.elapsedMs);
      break;
    case ConnectionManager::BlankOutcome::kUnacknowledged:
      log_.Line("blank frame sent before closing, no acknowledgement after %u ms", blank.elapsedMs);
      break;
  }
}

void TracedDeviceSide::ReportChanges(const LinkSnapshot& before, bool lettingGo) {
  const LinkSnapshot after = Snapshot();
  if (after.blanks != before.blanks) ReportBlank();
  if (after.refusedRequests != before.refusedRequests)
    log_.Line("request to release the port answered with 0: the display is not on a serial port");
  if (after.serialRetries > before.serialRetries) {
    log_.Line("serial acknowledgement time-out (%u in a row)%s", after.serialRetries,
              after.serialRetries > 3 ? ": suspending the driver" : "");
  }
  if (!before.recovering && after.recovering)
    log_.Line("serial display lost: driver suspended, trying again every 2 s");
  if (before.recovering && !after.recovering && shared_.suspended.load() == 0)
    ReportLink("serial display answered again");
  const bool hidLink = hid::ModelOf(static_cast<int32_t>(before.kind)) != nullptr;
  if (hidLink && before.hidOpen && after.hidCloses != before.hidCloses && !after.released &&
      !lettingGo) {
    const bool late = before.ack.ackPending != 0 &&
                      clock_.Now() - before.ack.lastFrameTick > HidWatch::kAckTimeoutMs;
    log_.Line(late ? "hid acknowledgement time-out: display lost"
                   : "hid display lost: a read or write failed");
  }
  if (!before.released && after.released) log_.Line("port released to the sharing program");
  if (before.released && !after.released) log_.Line("port taken back from the sharing program");
  if (hidLink && after.hidOpen && (!before.hidOpen || after.hidCloses != before.hidCloses)) {
    ReportLink("hid display found again");
  }
  if (before.serialOpen && !after.serialOpen) log_.Line("serial link closed");
}

int TracedDeviceSide::Connect(const char* portName) {
  log_.Line("connect \"%s\"", portName ? portName : "");
  int result = core_.Connect(portName);
  ReportLink(result ? "connected" : "no display");
  log_.Flush();
  return result;
}

void TracedDeviceSide::Disconnect() {
  LinkSnapshot before = Snapshot();
  log_.Line("disconnect");
  core_.Disconnect();
  if (before.released) {
    log_.Line("the port's loan to the sharing program ended with the session");
    before.released = false;
  }
  ReportChanges(before, true);
  log_.Flush();
}

void TracedDeviceSide::Suspend(int32_t flag) {
  const LinkSnapshot before = Snapshot();
  log_.Line(flag ? "suspend" : "resume");
  core_.Suspend(flag);
  ReportChanges(before, flag != 0);
  if (!flag) ReportLink("resumed");
  log_.Flush();
}

void TracedDeviceSide::WriteText(const uint8_t* dots, int32_t count) {
  log_.Line("write text cells: %d", count);
  Traced([&] { core_.WriteText(dots, count); });
}

void TracedDeviceSide::WriteAll(const uint8_t* dots, int32_t count) {
  log_.Line("write all cells: %d", count);
  Traced([&] { core_.WriteAll(dots, count); });
}

void TracedDeviceSide::Clear() {
  log_.Line("clear");
  Traced([&] { core_.Clear(); });
}

void TracedDeviceSide::PollTick() {
  Traced([&] { core_.PollTick(); });
}

void TracedDeviceSide::ServiceInput() {
  Traced([&] { core_.ServiceInput(); });
}

void TracedDeviceSide::Shutdown() {
  core_.Shutdown();
  log_.Line("shutdown: every device handle, port and mapping closed");
  log_.Flush();
}

}  // namespace zol
