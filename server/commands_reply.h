// The CommandReply of the parameter, settings and status commands that answer
// with u32 values alone.
#ifndef ARVEX_SERVER_COMMANDS_REPLY_H
#define ARVEX_SERVER_COMMANDS_REPLY_H

#include "protocol.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>

// Fills `out` (kCommandReplySize bytes) with the words from offset 16 and a
// value length of four bytes per word. Returns kCommandReplySize.
inline size_t buildWordsReply(uint8_t *out, uint16_t requestId, uint32_t subCommand,
                              std::initializer_list<uint32_t> words)
{
    static_assert(kCommandValueSize % 4 == 0, "whole words in the value area");
    const size_t count = words.size() < kCommandValueSize / 4 ? words.size() : kCommandValueSize / 4;
    initCommandReply(out, requestId, subCommand, uint32_t(4 * count));
    const uint32_t *word = words.begin();
    for (size_t i = 0; i < count; ++i)
        writeU32(out, kCommandValueOffset + 4 * i, word[i]);
    return kCommandReplySize;
}

#endif
