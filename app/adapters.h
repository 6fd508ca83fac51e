// Network adapter discovery and the address/MAC text helpers.
//
// PUBLIC CONTRACT (used by app/ and ui/). Free functions without state.
#ifndef ARVEX_APP_ADAPTERS_H
#define ARVEX_APP_ADAPTERS_H

#include <QString>

#include <cstdint>

constexpr int MaxAdapters = 32;

struct AdapterInfo {
    char name[256];         // identifier (QNetworkInterface::name())
    char description[256];  // humanReadableName(), cut before " - "
    char macText[256];      // "%02X:%02X:%02X:%02X:%02X:%02X"
    uint32_t ipAddress;     // first IPv4, first octet in the top byte; 0 if none
    uint32_t ipMask;
    uint32_t mtu;           // 1500 when the platform reports 0
};

int enumerateAdapters(AdapterInfo *out, int capacity);
int findAdapter(const QString &name, AdapterInfo *out);
// The adapter that has this IPv4 address; false when none has it.
bool findAdapterByAddress(uint32_t ipv4, AdapterInfo *out);
QString ipToText(uint32_t ip);
uint32_t textToIp(const QString &text);
bool parseDottedQuad(const char *text, uint8_t out[4]);
int64_t macTextToNumber(const char *text);
bool parseMacText(const char *text, uint8_t out[6]);

#endif
