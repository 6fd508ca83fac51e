// Text forms of sub-commands and their arguments, for the generic client
// command and for printing replies.
#ifndef ARVEX_CLIENT_COMMANDNAMES_H
#define ARVEX_CLIENT_COMMANDNAMES_H

#include <QString>

#include <cstdint>
#include <optional>

struct SubCommandName {
    uint32_t number;
    const char *name;  // lower case with hyphens: "get-status"
};

const SubCommandName *subCommandNames(int *count);
// "34", "0x22", "get-status", "GET_STATUS" and "CMD_GET_STATUS" all give 34.
std::optional<uint32_t> subCommandFromText(const QString &text);
// A 32-bit argument: decimal, 0x hex, or negative decimal down to
// -2147483648 (sent as its two's complement). No octal, no trailing junk.
std::optional<uint32_t> parseWireNumber(const QString &text);
// The name, or an empty text for a number the protocol does not define.
QString subCommandName(uint32_t number);

#endif
