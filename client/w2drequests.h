// Write-to-disk and save-to-file on a client session: the requests that
// carry a path at offset 80, and what their answers mean. The server refuses
// (result 9) a path outside its recording volumes; its log names the reason.
#ifndef ARVEX_CLIENT_W2DREQUESTS_H
#define ARVEX_CLIENT_W2DREQUESTS_H

#include "clienterror.h"
#include "clientsession.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

constexpr size_t kPathRequestOffset = 80;
constexpr size_t kPathRequestFieldSize = 512;
constexpr size_t kPathRequestSize = kPathRequestOffset + kPathRequestFieldSize;
constexpr size_t kPathRequestMaxArgs = (kPathRequestOffset - 16) / 4;

// A PKT_COMMAND with `args` at 16.. and `path` (Latin-1, NUL-terminated,
// zero-padded) at 80. `out` holds kPathRequestSize bytes. Nothing when the
// path is longer than 511 bytes, cannot be spelt in Latin-1, holds a NUL, or
// there are more than 16 arguments (`error` says which).
std::optional<size_t> buildPathRequest(uint8_t *out, uint16_t requestId, uint32_t subCommand,
                                       const uint32_t *args, size_t argCount,
                                       const QString &path, QString *error);

struct W2dStart {
    QString folder;      // relative to each chosen volume, "\" or "/"
    QString volumes;     // letters in slot order, e.g. "DE"; empty: the server's first
    uint32_t options = 0;
    uint32_t passThrough = 0;  // offset 32, for the driver
};

// Each returns false with `error` filled: a time-out, a refusal ("refused by
// the server"), another result, or a reply of the wrong form.
bool startWriteToDisk(ClientSession &session, const W2dStart &start, ClientError *error);
bool stopWriteToDisk(ClientSession &session, ClientError *error);
// CMD_SAVE_RAW_FILE: frames from..from+count-1 (count 0: to the end) of the
// camera's memory recording to `path`; the first folderChars characters of
// the path name the folder that becomes the server's download folder (0:
// none).
bool saveRawFile(ClientSession &session, const QString &path, uint32_t from, uint32_t count,
                 uint32_t folderChars, ClientError *error);

// The four values of the last write-to-disk progress report, in the
// driver's order (the simulated camera: frames written, volumes, MiB
// written, state).
std::optional<std::array<uint32_t, 4>> readW2dProgress(ClientSession &session, ClientError *error);

#endif
