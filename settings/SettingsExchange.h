// The settings exchanges with the tracker on its command port: reading all its settings as
// restore commands, and writing one restore command back.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/CommandPort.h"

// Records accepted while the settings are read, commands sent while they are restored; the bar
// of the save and restore pages follows it. The two never run at once.
extern uint8_t g_recordCount;

// The pair that asks the tracker for its settings, each with its checksum and line end: a set
// command the tracker wants first, then the dump query.
extern const char OoCommand[];
extern const char L0Query[];

// Asks the tracker on the open port for its settings and appends them to commands as restore
// commands in the tracker's own bytes, in the order accepted; a line that may hold a byte the
// line garbled or lost is never taken for a record. After each accepted record, onAccepted gets
// the new g_recordCount. True only when the dump's closing record came, so a dump that lost its
// end is never taken for whole. The port is closed on return.
bool ReadSettingsDump(CommandPort& port,
                      Clock& clock,
                      std::vector<std::string>& commands,
                      const std::function<void(uint8_t)>& onAccepted);

enum class CommandSent {
    kSent,
    kNotSent,   // the command was refused, or the line did not take it whole
    kPortGone,  // the port no longer answers: its device has gone
};

// Writes one restore command to the open port as 8-bit text in the code page its settings were
// read in, then gives the tracker its time to take it. What the tracker sent meanwhile is read
// and dropped first, and the line's error state cleared, so that its answers never fill the
// port's queue into an error that fails the write. A command that does not fit the line's 1024
// bytes, or holds a character that code page lacks, is not sent at all.
CommandSent SendRestoreCommand(CommandPort& port, Clock& clock, const std::wstring& command);
