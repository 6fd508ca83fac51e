// Field rules of one AdapterInfo record.
#include "adapterrecord.h"

#include <QByteArray>

#include <cstdio>
#include <cstring>

namespace {

void copyField(char (&field)[256], const QByteArray &text)
{
    const size_t n = qMin<size_t>(size_t(text.size()), sizeof(field) - 1);
    std::memcpy(field, text.constData(), n);
    field[n] = '\0';
}

}  // namespace

void fillAdapterInfo(AdapterInfo *out, const QString &name, const QString &description,
                     const QString &hardwareAddress, uint32_t ipv4, uint32_t mask, int mtu)
{
    std::memset(out, 0, sizeof(*out));
    copyField(out->name, name.toLatin1());

    const int cut = description.indexOf(QLatin1String(" - "));
    copyField(out->description, (cut < 0 ? description : description.left(cut)).toLatin1());

    // The platform's separators vary (":" or "-"); only the hex digits count.
    QByteArray digits;
    for (QChar c : hardwareAddress) {
        const char ch = c.toLatin1();
        if ((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F'))
            digits.append(ch);
    }
    const QByteArray bytes = QByteArray::fromHex(digits.left(12));
    uint8_t mac[6] = {};
    for (int i = 0; i < 6 && i < bytes.size(); ++i)
        mac[i] = uint8_t(bytes[i]);
    std::snprintf(out->macText, sizeof(out->macText), "%02X:%02X:%02X:%02X:%02X:%02X", mac[0],
                  mac[1], mac[2], mac[3], mac[4], mac[5]);

    out->ipAddress = ipv4;
    out->ipMask = mask;
    out->mtu = mtu <= 0 ? 1500u : uint32_t(mtu);
}
