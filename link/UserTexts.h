// Every text the program shows in a message box, in one place, so that a page and the worker
// that fails on it always say the same thing.
#pragma once

inline constexpr wchar_t kErrorCaption[] = L"Ошибка!";
inline constexpr wchar_t kExitQuestionCaption[] = L"Предупреждение!";
// Two blanks before the name, as users have always seen it.
inline constexpr wchar_t kExitQuestionText[] = L"Закрыть программу  KV-718 Firmware Tool?";

// A worker that waited on the tracker in vain.
inline constexpr wchar_t kTrackerTimeoutText[] = L"Превышено время ожидания!";
inline constexpr wchar_t kPortNotOpenText[] = L"Невозможно открыть СОМ-порт!";
inline constexpr wchar_t kBackupNotWrittenText[] = L"Невозможно сохранить настройки!";
inline constexpr wchar_t kBackupNotReadText[] = L"Невозможно открыть настройки!";
inline constexpr wchar_t kCommandNotSentText[] = L"Невозможно сохранить данные!";
inline constexpr wchar_t kUploadFailedText[] = L"Невозможно сохранить изменения!";
// The chosen firmware file holds nothing (a download cut short).
inline constexpr wchar_t kEmptyFirmwareText[] = L"Файл прошивки пуст!";
// The system could not start a page's work, or could not show a page at all.
inline constexpr wchar_t kWorkNotStartedText[] = L"Невозможно начать операцию!";
inline constexpr wchar_t kPageNotShownText[] = L"Невозможно показать страницу мастера!";
