// Opening and closing COM ports by number. Called on the GUI thread (or the CLI's main thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

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

}  // namespace lumivex::transport
