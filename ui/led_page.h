// The LED page: light source, channel currents and light selection. GUI thread only; every
// command goes through the board layer, which runs its exchanges on the current executor.
//
// The page splits its initialisation: the arrangement chosen from the settings file's "led"
// section, the light list and the slider's range are set up at the first showing in the life of
// the process; the captions and the connect button are refreshed at every showing; the currents
// are read by themselves once, the first time the page is shown while connected.
#pragma once

#include <cstdint>

#include "board/led_colours.h"
#include "ui/framework/dialog.h"

namespace lumivex::ui {

namespace led {
constexpr int kConnect = 1001;
constexpr int kPower = 1002;
constexpr int kSlider = 1003;
constexpr int kCurrentEdit = 1004;
constexpr int kWrite = 1005;
constexpr int kRead = 1006;
// The channel radio group, in triple order; W addresses green as G does and the page never
// enables it.
constexpr int kRadioRed = 1007;
constexpr int kRadioGreen = 1008;
constexpr int kRadioBlue = 1009;
constexpr int kRadioWhite = 1010;
constexpr int kLightConfirm = 1078;
constexpr int kLightFrame = 1079;
constexpr int kLightLabel = 1080;
constexpr int kLightList = 1081;

// The highest drive current the page accepts and the slider offers.
constexpr uint32_t kMaxCurrent = board::kMaxChannelCurrent;
// Light list entry to colour set: bit 0 red, bit 1 green, bit 2 blue. The first three entries
// light one colour each; any other index (White, or no selection read as 255) lights all three.
constexpr uint8_t LightColoursForIndex(uint8_t index) {
  return index <= 2 ? static_cast<uint8_t>(1u << index) : uint8_t{7};
}
}  // namespace led

class CLedPage : public CDialog {
 public:
  explicit CLedPage(CDialog* owner = nullptr);

  bool OnInitDialog() override;
  bool PreTranslateMessage(const InputMessage& message) override;
  void DoDataExchange(CDataExchange* pDX) override;

 private:
  void ArrangeFirstShowing(const board::DeclaredLedColours& colours);

  void OnLedPower();
  void OnWriteCurrent();
  void OnReadCurrent();
  void OnChannelRadio();
  void OnUartOpen();
  void OnLightConfirm();
  void OnCurrentEditChange();
  // Returns the custom-draw result: 0, the slider draws itself as usual.
  int OnSliderCustomDraw();

  void EnableCurrentControls(bool enable);
  void Warn(const char* key);
  int SelectedChannelRadio() const;
  // The leading decimal number of the edit box; 0 when it holds none.
  uint32_t CurrentEditNumber() const;
  // Controls into fields the way the data exchange does, without its validation box.
  void ReadCurrentEditQuietly();

  CComboBox m_lightCombo;
  CEdit m_currentEdit;
  CSliderCtrl m_currentSlider;
  uint32_t m_currentValue = 0;
  // 0 while the light source is on (button 1002 offers "Led.Off"), 1 while it is off.
  int32_t m_ledOff = 0;
  // The value last mirrored between slider and edit box.
  uint16_t m_lastSliderPos = 0;
};

}  // namespace lumivex::ui
