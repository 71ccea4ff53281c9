#pragma once
#include <cstddef>

constexpr size_t kModulePathChars = 260;

// The path of the optional resource library beside the program file, or false when the
// program's path has no folder or the folder is too long for the library's path to fit.
bool ResourceLibraryPath(const wchar_t* modulePath, wchar_t (&libraryPath)[kModulePathChars]);
