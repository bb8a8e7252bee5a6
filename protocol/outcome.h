// How the last exchange with the board ended, beside the bool or count that each command
// returns: a caller can then tell a board that said no from one that said nothing.
//
// Thread safety: kept per thread. An exchange records its outcome on the thread that ran it, so
// a caller asks on that same thread, right after the command returned (the panel's worker
// thread, inside the work it was given).
#pragma once

#include <cstdint>

namespace lumivex::protocol {

enum class Outcome : uint8_t {
  kAnswered,  // the board answered as expected (a setter: "Ack")
  kRefused,   // the board answered, but with something else than the command expects
  kNoAnswer,  // nothing, or too little, arrived within the command's waits
  kBadCheck,  // a class-D answer arrived whose check byte does not match
  kNotSent,   // the request could not be framed; nothing went out
};

// The outcome of the last exchange on this thread; kNoAnswer before the first.
Outcome LastOutcome();
void SetLastOutcome(Outcome outcome);

// "answered", "refused", "no answer", "bad check", "not sent".
const char* OutcomeText(Outcome outcome);

}  // namespace lumivex::protocol
