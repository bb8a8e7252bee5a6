// While a command runs, the window acts on no click or key and keeps none for later. The worker
// that runs commands closes the gate; every input event of the program's windows is then
// swallowed before it reaches a control, and the framework drops control notifications that
// arrive some other way (an accessibility action presses a button directly). GUI thread only.
#pragma once

#include "ui/framework/types.h"

namespace lumivex::ui {

// Closes the gate for its lifetime; nests.
class ScopedInputBlock {
 public:
  ScopedInputBlock();
  ~ScopedInputBlock();
  ScopedInputBlock(const ScopedInputBlock&) = delete;
  ScopedInputBlock& operator=(const ScopedInputBlock&) = delete;
};

bool IsInputBlocked();

// True when a notification of control must go no further: the gate is closed, or the control
// is finishing a press that began while it was (an accessibility press clicks 100 ms later).
// Forgets that press, so the next one counts again.
bool DropControlNotification(NativeWindow control);

// A window that acts on nothing on the board (the serial traffic window) stays usable while a
// command runs; so do message boxes that come up meanwhile.
void KeepUsableWhileBlocked(NativeWindow window);

}  // namespace lumivex::ui
