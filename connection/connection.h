// The one connection to the board that every page shares. GUI thread (or CLI main thread) only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/port_map.h"

namespace lumivex::connection {

// What the connection action needs of the page whose button was pressed.
class ConnectionPage {
 public:
  virtual ~ConnectionPage() = default;
  // A modal box with an OK button only; text and title are already translated.
  virtual void ShowMessage(const std::string& text, const std::string& title) = 0;
  // Sets the caption of control 1001 (the connect button).
  virtual void SetConnectCaption(const std::string& caption) = 0;
};

constexpr int kConnectButtonId = 1001;
constexpr std::size_t kMaxPorts = 11;

// Position 0 unused; 1..n hold COM numbers of the last enumeration.
extern std::array<uint8_t, kMaxPorts + 1> PortList;
// 0: not connected; else the position in PortList of the connected port.
extern uint8_t ConnectedIndex;
constexpr std::array<uint32_t, 2> BaudRates = {9600, 115200};
constexpr uint32_t MinimumFirmwareVersion = 0x1000B;

// Fills positions 1..n of list from the port map (at most 11 ports); returns n.
uint8_t EnumerateSerialPorts(std::array<uint8_t, kMaxPorts + 1>& list);

enum ToggleResult : uint8_t { kNoPortAnswered = 0, kToggled = 1, kNoPortListed = 2 };
// Closes the connection, or lists the ports and connects to the first that answers the
// handshake at 9600 or 115200 baud, then checks the firmware version. Shows its messages on page.
// The search greets every listed port at once, each on a thread of its own, and keeps the port
// that a port-by-port search in list order would keep. It blocks the caller for the search:
// about 1.4 s when ports before the board are silent, however many they are.
uint8_t ToggleConnection(ConnectionPage& page);

bool IsConnected();

// Closes the connection without a word to any page (the port went away; the front end tells
// the user and re-captions its buttons itself). Nothing happens while not connected.
void CloseConnection();

// The connection action narrowed to one port and/or one speed (lumivexctl --port, --baud).
// Same messages, order of attempts and results as ToggleConnection, but it never closes on
// its own: a connection that exists is closed first, silently, and a new one is sought.
struct ConnectionRequest {
  // Only this COM number; every listed port when empty.
  std::optional<uint8_t> portNumber;
  // When not empty, the device that portNumber opens instead of the one the port map gives.
  std::string devicePath;
  // Only this speed; BaudRates in order when empty.
  std::optional<uint32_t> baudRate;
};
uint8_t Connect(ConnectionPage& page, const ConnectionRequest& request);

// What the last search found, for callers that explain it (lumivexctl); the pages never need it.
struct ConnectionAttempt {
  uint8_t position;    // in PortList
  uint8_t portNumber;  // COM number
  uint32_t baudRate;
  bool opened;
  int openError;  // errno of a failed open, else 0
  bool answered;  // the handshake passed
};
// Every open tried by the last search, in order; emptied when a search starts.
const std::vector<ConnectionAttempt>& LastConnectionAttempts();
// Speed at which the connected port answered; 0 while not connected.
uint32_t ConnectedBaudRate();
// Whether the connected board reported a firmware version not below MinimumFirmwareVersion
// (false also when it did not answer the version request, or while not connected).
bool ConnectedFirmwareCurrent();

}  // namespace lumivex::connection
