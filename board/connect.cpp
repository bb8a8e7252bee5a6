#include "board/connect.h"

#include <string>
#include <vector>

#include "board/executor.h"
#include "settings/language_keys.h"

namespace lumivex::board {

namespace {

// Keeps what the connection action shows while it runs away from the window, for the page to
// show once it has ended. The boxes are modal in the panel: the user sees them after the
// search, in the same order, and the caption follows the boxes it followed before.
class DeferredPage final : public connection::ConnectionPage {
 public:
  void ShowMessage(const std::string& text, const std::string& title) override {
    steps_.push_back({true, text, title});
  }
  void SetConnectCaption(const std::string& caption) override {
    steps_.push_back({false, caption, {}});
  }

  void ReplayOn(connection::ConnectionPage& page) const {
    for (const Step& step : steps_) {
      if (step.message) {
        page.ShowMessage(step.text, step.title);
      } else {
        page.SetConnectCaption(step.text);
      }
    }
  }

 private:
  struct Step {
    bool message;
    std::string text;  // the message, or the caption
    std::string title;
  };
  std::vector<Step> steps_;
};

template <typename Action>
uint8_t RunDeferred(connection::ConnectionPage& page, Action action) {
  DeferredPage deferred;
  uint8_t result = connection::kNoPortAnswered;
  const char* activity = connection::IsConnected() ? key::kBusyDisconnecting : key::kBusyConnecting;
  CurrentExecutor().Run(activity, [&] { result = action(deferred); });
  deferred.ReplayOn(page);
  return result;
}

}  // namespace

uint8_t ToggleConnection(connection::ConnectionPage& page) {
  return RunDeferred(page, [](connection::ConnectionPage& deferred) {
    return connection::ToggleConnection(deferred);
  });
}

uint8_t Connect(connection::ConnectionPage& page, const connection::ConnectionRequest& request) {
  return RunDeferred(page, [&request](connection::ConnectionPage& deferred) {
    return connection::Connect(deferred, request);
  });
}

}  // namespace lumivex::board
