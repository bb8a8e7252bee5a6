// The pages' once-per-run work, defined beside the pages; a test or a rendering tool sets the
// flags again to show a page as at a fresh start.
#pragma once

namespace lumivex::ui {
extern bool TemperatureLayoutPending;
extern bool TemperatureAutoReadPending;
extern bool InputSourceListPending;
}  // namespace lumivex::ui
