// Write-to-disk and save-to-file requests of the client library.
#include "w2drequests.h"

#include "w2dvolumes.h"

#include <cstring>

namespace {

bool fail(ClientError *error, ClientErrorKind kind, const QString &message, uint8_t result = 0)
{
    if (error) {
        error->kind = kind;
        error->message = message;
        error->result = result;
    }
    return false;
}

// Sends a path request and checks its acknowledgement.
bool transactPath(ClientSession &session, uint32_t subCommand, const QVector<uint32_t> &args,
                  const QString &path, const QString &what, ClientError *error)
{
    uint8_t request[kPathRequestSize];
    QString why;
    const auto size = buildPathRequest(request, session.nextRequestId(), subCommand,
                                       args.constData(), size_t(args.size()), path, &why);
    if (!size)
        return fail(error, ClientErrorKind::Network, QStringLiteral("%1: %2").arg(what, why));
    const auto reply = session.transact(Channel::Camera, request, *size);
    if (!reply) {
        if (error)
            *error = session.lastError();
        return false;
    }
    if (!reply->isAck())
        return fail(error, ClientErrorKind::BadReply,
                    QStringLiteral("%1: a reply of %2 bytes, not an acknowledgement")
                        .arg(what)
                        .arg(reply->bytes.size()));
    const uint8_t result = reply->header.resultOrSelector;
    if (result == RESULT_REFUSED)
        return fail(error, ClientErrorKind::ErrorResult,
                    QStringLiteral("%1: refused by the server (result 9): the path is outside "
                                   "its recording volumes or malformed, or no volume is "
                                   "usable; the server's log names the reason")
                        .arg(what),
                    result);
    if (result != RESULT_OK)
        return fail(error, ClientErrorKind::ErrorResult,
                    QStringLiteral("%1: the server answered with result %2").arg(what).arg(result),
                    result);
    return true;
}

}  // namespace

std::optional<size_t> buildPathRequest(uint8_t *out, uint16_t requestId, uint32_t subCommand,
                                       const uint32_t *args, size_t argCount,
                                       const QString &path, QString *error)
{
    auto refuse = [error](const QString &why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (argCount > kPathRequestMaxArgs)
        return refuse(QStringLiteral("at most %1 arguments fit before the path").arg(kPathRequestMaxArgs));
    for (const QChar c : path) {
        if (c.unicode() == 0 || c.unicode() > 0xFF)
            return refuse(QStringLiteral("the path \"%1\" has a character the server cannot take")
                              .arg(path));
    }
    const QByteArray text = path.toLatin1();
    if (size_t(text.size()) >= kPathRequestFieldSize)
        return refuse(QStringLiteral("the path has %1 bytes; at most %2 fit")
                          .arg(text.size())
                          .arg(kPathRequestFieldSize - 1));
    std::memset(out, 0, kPathRequestSize);
    buildCommandRequest(out, requestId, subCommand, args, argCount);
    std::memcpy(out + kPathRequestOffset, text.constData(), size_t(text.size()));
    return kPathRequestSize;
}

bool startWriteToDisk(ClientSession &session, const W2dStart &start, ClientError *error)
{
    const uint32_t count = uint32_t(start.volumes.size());
    const QVector<uint32_t> args = {1, count, encodeVolumeChoice(start.volumes), start.options,
                                    start.passThrough};
    return transactPath(session, CMD_WRITE_TO_DISK, args, start.folder,
                        QStringLiteral("write-to-disk start"), error);
}

bool stopWriteToDisk(ClientSession &session, ClientError *error)
{
    return transactPath(session, CMD_WRITE_TO_DISK, {0}, QString(),
                        QStringLiteral("write-to-disk stop"), error);
}

bool saveRawFile(ClientSession &session, const QString &path, uint32_t from, uint32_t count,
                 uint32_t folderChars, ClientError *error)
{
    return transactPath(session, CMD_SAVE_RAW_FILE, {from, 0, count, folderChars}, path,
                        QStringLiteral("save raw file"), error);
}

std::optional<std::array<uint32_t, 4>> readW2dProgress(ClientSession &session, ClientError *error)
{
    const auto reply = session.command(Channel::Camera, CMD_GET_W2D_PROGRESS, {});
    if (!reply || reply->header.resultOrSelector != RESULT_OK) {
        if (error)
            *error = session.lastError();
        return std::nullopt;
    }
    const CommandReply decoded = reply->command();
    if (!decoded.valid || decoded.subCommand != CMD_GET_W2D_PROGRESS) {
        fail(error, ClientErrorKind::BadReply,
             QStringLiteral("write-to-disk progress: a reply of %1 bytes, not its 176-byte reply")
                 .arg(reply->bytes.size()));
        return std::nullopt;
    }
    return std::array<uint32_t, 4>{decoded.value(0), decoded.value(1), decoded.value(2),
                                   decoded.value(3)};
}
