// Log line formatting: the time stamp since the server was created and the
// HTML line the log window shows.
#ifndef ARVEX_SERVER_LOGSTAMP_H
#define ARVEX_SERVER_LOGSTAMP_H

#include <QString>

#include <chrono>

// "H:MM:SS:mmm  " (hours at least two digits and never wrapped, two trailing
// spaces), rounded to the nearest millisecond.
QString formatLogStamp(std::chrono::nanoseconds sinceStart);

// The log window's line. The text is HTML-escaped: it may carry client input
// (paths, file names) that must show as written, not as markup.
QString htmlLogLine(const QString &stamp, const QString &text);

#endif
