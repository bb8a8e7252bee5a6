// Opening and closing COM ports by number. OpenPort and ClosePort run on the thread that owns the
// connection (the GUI thread's exchange worker, or the CLI's main thread); an open or close can
// block for up to half a second while the monitor thread stops.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "transport/link.h"

namespace lumivex::transport {

// COM number last passed to OpenPort; selects the port for ClosePort and LinkSend. 0 at start.
extern std::atomic<uint8_t> CurrentPortNumber;

// Opens the device that the port map gives COM number at baudRate, 8N1, and starts its monitor
// thread. Sets CurrentPortNumber first, whatever follows. On failure prints
// "COM not open , error : <errno>" on standard output and returns false.
bool OpenPort(uint8_t number, uint32_t baudRate);

// As OpenPort, but opens devicePath as COM number instead of asking the port map
// (lumivexctl --port /dev/ttyUSB0).
bool OpenPortOnDevice(uint8_t number, const std::string& devicePath, uint32_t baudRate);

// Closes the port that CurrentPortNumber selects; does nothing when it is not open.
void ClosePort();

// The errno of the last failed OpenPort (0 when the last one succeeded), so that callers can
// explain a refusal (EACCES: the user is not in the dialout group; EBUSY: another process).
int LastOpenError();

// What OpenPort reports of an open that ended with error (0: it succeeded): LastOpenError, and
// for a failure "COM not open , error : <error>" on standard output. For a search that replays
// its probes' opens in list order.
void ReportOpenOutcome(int error);

// One COM port tried by a search on a link of its own, so that every listed port can be greeted
// at the same time: the port object of COM number (PortTable), its bytes going into the probe's
// ring, its writes confirmed to the probe's waits. The probe prints nothing and leaves
// CurrentPortNumber alone until Adopt.
//
// Thread safety: one thread runs Open, Close and the exchanges (with BindLink on link()); any
// thread may Cancel. Two probes of the same number must not be open at the same time.
class PortProbe {
 public:
  // devicePath, when not empty, is what the probe opens instead of the port map's device.
  explicit PortProbe(uint8_t number, std::string devicePath = {});
  // Closes the port unless it was adopted.
  ~PortProbe();
  PortProbe(const PortProbe&) = delete;
  PortProbe& operator=(const PortProbe&) = delete;

  uint8_t Number() const { return number_; }
  // Opens the port at baudRate, 8N1, as OpenPort does (closing it first if it was open). False
  // with OpenError set when it cannot be opened.
  bool Open(uint32_t baudRate);
  int OpenError() const { return openError_; }
  // Closes the port; it feeds the program's link again.
  void Close();
  // The probe's link; bind it on the thread that greets the port.
  Link& link() { return *link_; }
  // Ends the probe's waits at once, now and later (an earlier port has answered).
  void Cancel() { link_->Cancel(); }
  // The open port becomes the current port (CurrentPortNumber), feeding the program's link.
  void Adopt();

 private:
  uint8_t number_;
  std::string devicePath_;
  std::shared_ptr<Link> link_;
  int openError_ = 0;
  bool adopted_ = false;
};

}  // namespace lumivex::transport
