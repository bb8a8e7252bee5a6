#include "board/led_colours.h"

#include <memory>

#include "settings/settings.h"

namespace lumivex::board {

namespace {
constexpr char kRedKey[] = "r";
constexpr char kGreenKey[] = "g";
constexpr char kBlueKey[] = "b";
constexpr char kDeclared[] = "true";
}  // namespace

bool DeclaredLedColours::Has(Channel channel) const {
  switch (channel) {
    case Channel::kRed:
      return red;
    case Channel::kGreen:
      return green;
    case Channel::kBlue:
      return blue;
  }
  return false;
}

DeclaredLedColours ReadDeclaredLedColours() {
  // 255 entries of two strings each: too large for a worker thread's stack.
  auto entries = std::make_unique<settings::SettingTable>();
  const int count = settings::ReadSettingSection(settings::section::kLed, *entries);
  DeclaredLedColours colours;
  colours.sectionEmpty = count == 0;
  for (int i = 0; i < count; ++i) {
    const settings::SettingEntry& entry = (*entries)[static_cast<std::size_t>(i)];
    if (entry.value != kDeclared) continue;
    if (entry.key == kRedKey) {
      colours.red = true;
      colours.last = Channel::kRed;
    } else if (entry.key == kGreenKey) {
      colours.green = true;
      colours.last = Channel::kGreen;
    } else if (entry.key == kBlueKey) {
      colours.blue = true;
      colours.last = Channel::kBlue;
    }
  }
  return colours;
}

}  // namespace lumivex::board
