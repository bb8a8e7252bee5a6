// A shared_ptr that one thread replaces while others take copies of it.
//
// std::atomic<std::shared_ptr> would do, but libstdc++ 12 lets go of that type's inner lock
// after a load with relaxed order: a load and the store that follows it are then not ordered,
// and ThreadSanitizer rightly reports the pair as a race. A mutex held for the copy alone costs
// no more here (a port's monitor thread takes one copy per read).
#pragma once

#include <memory>
#include <mutex>
#include <utility>

namespace lumivex::transport {

template <typename T>
class SharedSlot {
 public:
  std::shared_ptr<T> load() const {
    std::lock_guard lock(mutex_);
    return value_;
  }

  void store(std::shared_ptr<T> value) { exchange(std::move(value)); }

  // The previous value is handed back, so that its last owner lets go of it outside the lock.
  std::shared_ptr<T> exchange(std::shared_ptr<T> value) {
    std::lock_guard lock(mutex_);
    return std::exchange(value_, std::move(value));
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<T> value_;
};

}  // namespace lumivex::transport
