#include "app/ResourceLibraryPath.h"

#include <cwchar>

bool ResourceLibraryPath(const wchar_t* modulePath, wchar_t (&libraryPath)[kModulePathChars]) {
    static const wchar_t kLibraryName[] = L"\\chinese.dll";
    const wchar_t* lastBackslash = std::wcsrchr(modulePath, L'\\');
    if (lastBackslash == nullptr)
        return false;
    const size_t folderChars = static_cast<size_t>(lastBackslash - modulePath);
    const size_t nameChars = sizeof(kLibraryName) / sizeof(wchar_t) - 1;
    if (folderChars + nameChars + 1 > kModulePathChars)
        return false;
    std::wmemcpy(libraryPath, modulePath, folderChars);
    std::wmemcpy(libraryPath + folderChars, kLibraryName, nameChars + 1);
    return true;
}
