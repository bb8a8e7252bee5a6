// Request frames and transactions with the board.
//
// A request frame: E0, length L (whole frame), class (0x41 'A' or 0x44 'D'), command, payload,
// and in class D a check byte that makes the whole frame sum to zero. Class-A answers are raw
// bytes; class-D answers carry a lead byte and a check byte around their data.
//
// Thread safety: one exchange at a time on a link. Every exchange (Transact, ReceiveChecked,
// SendRawFrame) holds its link's lock, so the upgrade worker and the GUI never take each other's
// bytes; a search's probes each greet their own port on a link of their own, all at once. Each
// call blocks its thread for the whole exchange: up to tries * (8 * answer bytes + 1) ms after
// a write of up to one second.
#pragma once

#include <cstdint>

namespace lumivex::protocol {

constexpr uint8_t kFrameHeader = 0xE0;
constexpr uint8_t kClassA = 0x41;
constexpr uint8_t kClassD = 0x44;

// Sends one request and collects its answer. Returns answerLength when the answer arrived (and
// in class D passed its check; then the lead and check bytes are dropped), 0 when no answer was
// expected or none arrived within tries waits, -1 for invalid arguments (nothing is written:
// a missing buffer with a non-zero length, a payload or answer that does not fit the one-byte
// length fields, a class other than A and D) or a class-D answer that failed its check.
// On -1 and 0 the answer buffer is left as it was.
int32_t Transact(uint16_t command, const uint8_t* payload, uint8_t payloadLength, uint8_t* answer,
                 uint8_t answerLength, uint16_t tries);

// Collects one class-D answer of length data bytes that the board sends unasked, in a single
// wait and without a reset: length on success, 0 when it did not arrive, -1 on a failed check
// (data untouched).
int32_t ReceiveChecked(uint8_t* data, uint8_t length);

// Resets the ring and writes bytes as they are, awaiting no answer (the short upgrade frame).
void SendRawFrame(const uint8_t* bytes, uint8_t length);

// Stores at L - 1 the negated sum of bytes 0 to L - 2, L read from frame[lengthIndex].
void SetChecksum(uint8_t* frame, uint8_t lengthIndex);
// True when the 8-bit sum of length bytes is 0 (and for length 0); false for no buffer.
bool VerifyChecksum(const uint8_t* bytes, uint8_t length);

}  // namespace lumivex::protocol
