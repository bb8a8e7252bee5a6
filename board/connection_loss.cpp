#include "board/connection_loss.h"

#include <atomic>
#include <mutex>

#include "connection/connection.h"
#include "transport/port_table.h"
#include "transport/ports.h"

namespace lumivex::board {

namespace {
std::mutex ObserverMutex;
ConnectionLossObserver Observer;
std::atomic<uint64_t> HandledLosses{0};
}  // namespace

void SetConnectionLossObserver(ConnectionLossObserver observer) {
  {
    std::lock_guard lock(ObserverMutex);
    Observer = std::move(observer);
  }
  // Only the port in use matters: a probe's port that hangs up during a search is not a loss.
  transport::SetHangUpObserver([](int portNumber) {
    if (portNumber != transport::CurrentPortNumber.load()) return;
    std::lock_guard lock(ObserverMutex);
    if (Observer) Observer();
  });
}

bool HandleConnectionLoss() {
  if (!connection::IsConnected()) return false;
  if (!transport::PortTable[transport::CurrentPortNumber.load()].IsHungUp()) return false;
  connection::CloseConnection();
  ++HandledLosses;
  return true;
}

uint64_t HandledConnectionLosses() {
  return HandledLosses.load();
}

bool ConnectionLostSince(uint64_t lossesBefore) {
  // The loss may have been handled (and the port closed) between two looks of a waiting thread.
  return HandledLosses.load() != lossesBefore ||
         transport::PortTable[transport::CurrentPortNumber.load()].IsHungUp();
}

}  // namespace lumivex::board
