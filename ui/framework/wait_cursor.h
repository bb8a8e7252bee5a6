// The wait cursor shown while a blocking command holds the GUI thread. GUI thread only.
#pragma once

namespace lumivex::ui {

class CWaitCursor {
 public:
  CWaitCursor();
  ~CWaitCursor();
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;
};

}  // namespace lumivex::ui
