// Pacing of image segments: the delay after each datagram and how resend
// requests raise it. The wait spins on std::chrono::steady_clock, because
// only a spin resolves microseconds; it never sleeps or yields.
#ifndef ARVEX_SERVER_PACING_H
#define ARVEX_SERVER_PACING_H

#include <chrono>
#include <cstdint>

using PaceClock = std::chrono::steady_clock;

// The longest delay ever applied after one segment (the largest network
// performance setting): resend requests that never complete cannot stall
// the server for longer per segment.
constexpr uint32_t kMaxSegmentDelayUs = 1000000;

// Busy-waits until `us` microseconds after `from` (the moment the datagram
// was handed to the socket). Returns at once for 0.
void paceDelay(PaceClock::time_point from, uint32_t us);

// The delay in force for a configured value: negative counts as 0, anything
// above kMaxSegmentDelayUs as that.
uint32_t effectiveSegmentDelay(int64_t configuredUs);

// What one PKT_RESEND datagram adds: (packetSize & 0x7FFFFFFF) / 724, so 2 us
// at 1500 bytes and 12 at 9000.
uint32_t resendDelayStep(uint32_t packetSize);

// `current` raised by `step`, saturating at kMaxSegmentDelayUs.
uint32_t raisedSegmentDelay(int64_t currentUs, uint32_t step);

#endif
