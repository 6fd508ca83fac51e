// Log stamp and HTML log line.
#include "logstamp.h"

QString formatLogStamp(std::chrono::nanoseconds sinceStart)
{
    // 64 bits: a 32-bit count would wrap after 49.7 days of uptime.
    const qint64 ns = sinceStart.count() < 0 ? 0 : sinceStart.count();
    const quint64 ms = quint64(ns + 500000) / 1000000;
    const QChar zero(QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3:%4  ")
        .arg(ms / 3600000, 2, 10, zero)
        .arg(ms / 60000 % 60, 2, 10, zero)
        .arg(ms / 1000 % 60, 2, 10, zero)
        .arg(ms % 1000, 3, 10, zero);
}

QString htmlLogLine(const QString &stamp, const QString &text)
{
    return QStringLiteral("<p><font color=gray>%1</font><font color=white>%2</font><br/></p>")
        .arg(stamp, text.toHtmlEscaped());
}
