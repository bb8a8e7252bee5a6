#include "pre_translate_recorder.h"

namespace lumivex::ui::win32 {

namespace test {
PreTranslateRecorder& Recorder() {
  static PreTranslateRecorder recorder;
  return recorder;
}
}  // namespace test

bool PreTranslateInput(MSG& msg) {
  test::PreTranslateRecorder& recorder = test::Recorder();
  recorder.seen.push_back(msg);
  return recorder.consume && recorder.consume(msg);
}

HFONT DialogFont() {
  return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

}  // namespace lumivex::ui::win32
