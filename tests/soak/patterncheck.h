// Checking a received image against the simulator's test pattern, also when
// its frame number is not known (live images: the counter is shared by every
// client of the camera, so the number is read from the first pixel).
#ifndef ARVEX_TESTS_SOAK_PATTERNCHECK_H
#define ARVEX_TESTS_SOAK_PATTERNCHECK_H

#include <QByteArray>

#include <cstdint>

// True when `data` is frame `frame` of the pattern, bit for bit.
bool isPatternFrame(const QByteArray &data, uint32_t width, uint32_t height, uint32_t bits,
                    uint32_t frame);
// True when `data` is some frame of the pattern: the frame number follows
// from pixel (0, 0), the rest must agree with it.
bool isSomePatternFrame(const QByteArray &data, uint32_t width, uint32_t height, uint32_t bits);

#endif
