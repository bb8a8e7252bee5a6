#include "protocol/outcome.h"

namespace lumivex::protocol {

namespace {
thread_local Outcome Last = Outcome::kNoAnswer;
}  // namespace

Outcome LastOutcome() {
  return Last;
}

void SetLastOutcome(Outcome outcome) {
  Last = outcome;
}

const char* OutcomeText(Outcome outcome) {
  switch (outcome) {
    case Outcome::kAnswered:
      return "answered";
    case Outcome::kRefused:
      return "refused";
    case Outcome::kNoAnswer:
      return "no answer";
    case Outcome::kBadCheck:
      return "bad check";
    case Outcome::kNotSent:
      return "not sent";
  }
  return "no answer";
}

}  // namespace lumivex::protocol
