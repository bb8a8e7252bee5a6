// The LED colours a build of the light engine declares in the settings file's "led" section:
// keys "r", "g" and "b", each declared when its value is exactly "true" (case counts; any other
// key or value is ignored). The LED and Temperature pages arrange themselves by it.
//
// Thread safety: any thread; each call reads the file afresh.
#pragma once

#include <optional>

#include "board/commands.h"

namespace lumivex::board {

struct DeclaredLedColours {
  bool sectionEmpty = true;  // the section holds no key at all (or there is no file)
  bool red = false;
  bool green = false;
  bool blue = false;
  // The colour declared last in file order.
  std::optional<Channel> last;

  int Count() const { return int{red} + int{green} + int{blue}; }
  bool All() const { return Count() == 3; }
  // No colour or one colour: a board with one temperature and one current worth showing.
  bool AtMostOne() const { return Count() <= 1; }
  bool Has(Channel channel) const;
};

DeclaredLedColours ReadDeclaredLedColours();

}  // namespace lumivex::board
