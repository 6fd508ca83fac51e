// Human-readable text of replies: device descriptions, server identity and
// command values, one line per fact.
#ifndef ARVEX_CLIENT_REPLYTEXT_H
#define ARVEX_CLIENT_REPLYTEXT_H

#include "clientsession.h"

#include <QString>
#include <QStringList>

// "12-3456-7890": two, four and four decimal digits.
QString serialNumberText(uint32_t serial);
// "0102-0a-1f": bits 31..16, 15..8 and 7..0 in hexadecimal.
QString versionText(uint32_t version);
// "00:1B:21:3A:4F:5C", or "unknown" for -1.
QString macNumberText(int64_t mac);

// The device fields of a camera description or raw-file information record.
QStringList deviceLines(const DiscoveryReply &record, bool rawInfo);
QString identityLine(const ServerIdentity &identity);
// An AckReply's result, or a CommandReply's sub-command, value length and
// values (u32 words, plus the text of the text parameters).
QStringList commandReplyLines(const Reply &reply, uint32_t subCommand,
                              const QVector<uint32_t> &args);

#endif
