// The one connection to the board that every page shares. GUI thread (or CLI main thread) only.
#pragma once

#include <array>
#include <cstdint>
#include <string>

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
uint8_t ToggleConnection(ConnectionPage& page);

bool IsConnected();

}  // namespace lumivex::connection
