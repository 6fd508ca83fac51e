// Network adapters from QNetworkInterface, and the dotted-quad and MAC text
// helpers.
#include "adapters.h"

#include "adapterrecord.h"

#include <QHostAddress>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>

#include <cctype>
#include <cstring>
#include <string>

namespace {

// One part of a dotted quad read the way sscanf("%d") reads it: leading
// white space, an optional sign, then digits up to the first non-digit. A
// part without any digit is refused rather than read as garbage.
bool readPart(const std::string &part, long *value)
{
    size_t i = 0;
    while (i < part.size() && std::isspace(static_cast<unsigned char>(part[i])))
        ++i;
    bool negative = false;
    if (i < part.size() && (part[i] == '+' || part[i] == '-')) {
        negative = part[i] == '-';
        ++i;
    }
    const size_t firstDigit = i;
    long v = 0;
    while (i < part.size() && std::isdigit(static_cast<unsigned char>(part[i]))) {
        if (v < 1000)  // anything above 255 is refused anyway; no overflow
            v = v * 10 + (part[i] - '0');
        ++i;
    }
    if (i == firstDigit)
        return false;
    *value = negative ? -v : v;
    return true;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

int enumerateAdapters(AdapterInfo *out, int capacity)
{
    if (!out || capacity <= 0)
        return 0;
    int count = 0;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        if (count >= capacity)
            break;
        uint32_t ip = 0;
        uint32_t mask = 0;
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
                ip = entry.ip().toIPv4Address();
                mask = entry.netmask().toIPv4Address();
                break;
            }
        }
        fillAdapterInfo(&out[count], iface.name(), iface.humanReadableName(),
                        iface.hardwareAddress(), ip, mask, iface.maximumTransmissionUnit());
        ++count;
    }
    return count;
}

int findAdapter(const QString &name, AdapterInfo *out)
{
    AdapterInfo list[MaxAdapters];
    const int count = enumerateAdapters(list, MaxAdapters);
    for (int i = 0; i < count; ++i) {
        if (QString::fromLatin1(list[i].name) == name) {
            *out = list[i];
            break;
        }
    }
    return 1;
}

bool findAdapterByAddress(uint32_t ipv4, AdapterInfo *out)
{
    AdapterInfo list[MaxAdapters];
    const int count = enumerateAdapters(list, MaxAdapters);
    for (int i = 0; i < count; ++i) {
        if (list[i].ipAddress == ipv4) {
            *out = list[i];
            return true;
        }
    }
    return false;
}

QString ipToText(uint32_t ip)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(ip >> 24)
        .arg((ip >> 16) & 255)
        .arg((ip >> 8) & 255)
        .arg(ip & 255);
}

uint32_t textToIp(const QString &text)
{
    const QByteArray latin1 = text.toLatin1();
    uint8_t o[4];
    if (!parseDottedQuad(latin1.constData(), o))
        return 0xFFFFFFFFu;
    return (uint32_t(o[0]) << 24) | (uint32_t(o[1]) << 16) | (uint32_t(o[2]) << 8) | o[3];
}

bool parseDottedQuad(const char *text, uint8_t out[4])
{
    out[0] = out[1] = out[2] = out[3] = 0;
    if (!text)
        return false;
    // Work on a copy of any length: every part is closed by a "." (the first
    // "]" becomes one, otherwise one is appended).
    std::string work(text);
    const size_t bracket = work.find(']');
    if (bracket != std::string::npos)
        work[bracket] = '.';
    else
        work.push_back('.');

    long values[4];
    int parts = 0;
    size_t pos = 0;
    while (parts < 4) {
        const size_t dot = work.find('.', pos);
        if (dot == std::string::npos)
            break;
        if (!readPart(work.substr(pos, dot - pos), &values[parts]))
            return false;
        ++parts;
        pos = dot + 1;
    }
    if (parts < 4)
        return false;
    for (long v : values) {
        if (v < 0 || v > 255)
            return false;
    }
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t(values[i]);
    return true;
}

int64_t macTextToNumber(const char *text)
{
    uint8_t b[6];
    if (!parseMacText(text, b))
        return -1;
    return (int64_t(b[0]) << 40) | (int64_t(b[1]) << 32) | (int64_t(b[2]) << 24) |
           (int64_t(b[3]) << 16) | (int64_t(b[4]) << 8) | int64_t(b[5]);
}

bool parseMacText(const char *text, uint8_t out[6])
{
    std::memset(out, 0, 6);
    if (!text)
        return false;
    // Six pairs of hex digits, one separator character after each of the
    // first five. Anything shorter or not hex is refused instead of being
    // read past its end or turned into arbitrary octets.
    const size_t length = std::strlen(text);
    if (length < 17)
        return false;
    uint8_t bytes[6];
    for (int i = 0; i < 6; ++i) {
        const char *pair = text + 3 * i;
        const int hi = hexValue(char(std::toupper(static_cast<unsigned char>(pair[0]))));
        const int lo = hexValue(char(std::toupper(static_cast<unsigned char>(pair[1]))));
        if (hi < 0 || lo < 0)
            return false;
        bytes[i] = uint8_t(16 * hi + lo);
    }
    std::memcpy(out, bytes, 6);
    return true;
}
