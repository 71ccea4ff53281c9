// The settings backup, back.pro in the user's temporary folder: the restore commands of the
// last complete save, one per line, as UTF-16LE text with its mark.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "log/TemporaryFolder.h"

constexpr size_t kBackupPathChars = kTemporaryPathChars;

// "<temporary folder>\back.pro", as every version of the program has named it (the folder as
// the system reports it, with its own trailing backslash). False if there is no temporary folder
// or the path would not fit.
bool BackupPath(wchar_t (&path)[kBackupPathChars]);

// Writes the commands, in order and each exactly as given, as the new backup. The previous backup
// is replaced in one step once the new one is complete, and kept as "<path>.bak", with the one
// before that as ".bak2" and the one before that as ".bak3"; a save of the bytes the backup
// already holds changes nothing. On any failure (false) the backup stays byte for byte as it was
// and no temporary file is left. Leftovers of an interrupted earlier save are removed first. A path
// that is not absolute, or a command holding a NUL, is refused before anything is touched. Never
// throws.
bool SaveBackup(const wchar_t* path, const std::vector<std::wstring>& commands);

// Every line of the backup in file order, line ends as stored. Lines that read as empty (an
// 8-bit CR CR LF) are skipped. False when the path is not absolute or the file cannot be opened
// or read. Never throws.
bool LoadBackup(const wchar_t* path, std::vector<std::wstring>& lines);
