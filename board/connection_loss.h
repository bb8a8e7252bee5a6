// An unplugged adapter: the connected port hangs up. Noticed at once, handled once.
//
// Thread safety: the observer is called on the port's monitor thread; HandleConnectionLoss runs
// on the front end's main thread (the GUI thread, or the CLI's main thread).
#pragma once

#include <cstdint>
#include <functional>

namespace lumivex::board {

// Called once, on the monitor thread, when the connected port hangs up. A panel posts to its GUI
// thread from here; it must not block. An empty function removes the observer.
using ConnectionLossObserver = std::function<void()>;
void SetConnectionLossObserver(ConnectionLossObserver observer);

// When the connected port has hung up: closes it, forgets the connection (IsConnected is false
// afterwards) and returns true, once per loss. False otherwise, with nothing changed.
bool HandleConnectionLoss();

// True when the port in use has hung up, or a loss has been handled since lossesBefore was
// taken from HandledConnectionLosses. Any thread.
bool ConnectionLostSince(uint64_t lossesBefore);
uint64_t HandledConnectionLosses();

}  // namespace lumivex::board
