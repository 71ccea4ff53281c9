// Every message box the program shows: the captions, the exit question, and one table from a
// failure to the words and the box its user reads.
#pragma once
#include "link/Failure.h"

inline constexpr wchar_t kErrorCaption[] = L"Ошибка!";
inline constexpr wchar_t kExitQuestionCaption[] = L"Предупреждение!";
// Two blanks before the name, as users have always seen it.
inline constexpr wchar_t kExitQuestionText[] = L"Закрыть программу  KV-718 Firmware Tool?";

struct FailureBox {
    const char* cause;  // for the support log
    const wchar_t* text;
    unsigned style;  // MessageBox's flags
};

// The box for a failure, under kErrorCaption.
const FailureBox& FailureBoxFor(Failure cause);
