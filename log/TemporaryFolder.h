// The user's temporary folder, where the settings backup and the support log are kept.
#pragma once
#include <cstddef>

constexpr size_t kTemporaryPathChars = 1024;

// "<temporary folder>\<name>": the folder as the system gives it, its own backslash included,
// then one more, as back.pro's path has always been made. False when the system has no
// temporary folder or the path would not fit.
bool PathInTemporaryFolder(const wchar_t* name, wchar_t (&path)[kTemporaryPathChars]);
