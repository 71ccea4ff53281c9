// The text file class the backup is written with.
#include "settings/StdioFileEx.h"

#include <gtest/gtest.h>

#include "TempFolder.h"

TEST(StdioFileEx, NullTextIsAnInvalidArgument) {
    TempFolder folder;
    CStdioFileEx file;
    ASSERT_TRUE(file.Open((folder / L"back.pro").c_str(), 0x105001));
    EXPECT_THROW(file.WriteString(nullptr), CInvalidArgException*);
}
