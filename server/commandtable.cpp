// The PKT_COMMAND sub-commands and their handlers: one line per sub-command.
// A sub-command missing here is answered as unknown.
#include "qcameramonitor.h"

QCameraMonitor::CommandHandler QCameraMonitor::commandHandler(uint32_t subCommand)
{
    struct Entry {
        uint32_t subCommand;
        CommandHandler handler;
    };
    static const Entry kCommands[] = {
        {CMD_OPEN, &QCameraMonitor::handleOpen},
        {CMD_CLOSE, &QCameraMonitor::handleClose},
        {CMD_NOP, &QCameraMonitor::handleNop},
        {CMD_NOP_2, &QCameraMonitor::handleNop},
        {CMD_NOP_3, &QCameraMonitor::handleNop},
    };
    for (const Entry &entry : kCommands) {
        if (entry.subCommand == subCommand)
            return entry.handler;
    }
    return nullptr;
}
