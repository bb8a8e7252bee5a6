// The pre-translate hook as the loop tests see it: it records every message it is shown and
// consumes those a test asks it to.
#pragma once

#include <functional>
#include <vector>

#include "ui/framework/win32/internal.h"

namespace lumivex::ui::win32::test {

struct PreTranslateRecorder {
  std::vector<MSG> seen;
  // True consumes the message; empty consumes nothing.
  std::function<bool(const MSG&)> consume;
};

PreTranslateRecorder& Recorder();

}  // namespace lumivex::ui::win32::test
