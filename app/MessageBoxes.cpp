#include "app/MessageBoxes.h"

#include <windows.h>

namespace {

// A box with Cancel as well lets the user stay on the page: the work goes on, or the page
// can be tried again by going back.
constexpr unsigned kOk = MB_ICONERROR | MB_OK;
constexpr unsigned kOkCancel = MB_ICONERROR | MB_OKCANCEL;

struct Row {
    Failure cause;
    FailureBox box;
};

// In the order of Failure.
constexpr Row kBoxes[] = {
    {Failure::kPortNotOpen, {"port not open", L"Невозможно открыть СОМ-порт!", kOkCancel}},
    {Failure::kTrackerSilent, {"tracker silent", L"Превышено время ожидания!", kOk}},
    {Failure::kBackupNotWritten, {"backup not written", L"Невозможно сохранить настройки!", kOkCancel}},
    {Failure::kBackupNotRead, {"backup not read", L"Невозможно открыть настройки!", kOk}},
    {Failure::kLineNotSent, {"line not sent", L"Невозможно сохранить данные!", kOkCancel}},
    {Failure::kSettingsNotRestored, {"settings not restored", L"Невозможно сохранить данные!", kOk}},
    {Failure::kUploadFailed, {"upload failed", L"Невозможно сохранить изменения!", kOk}},
    {Failure::kEmptyFirmware, {"empty firmware", L"Файл прошивки пуст!", kOk}},
    {Failure::kWorkNotStarted, {"work not started", L"Невозможно начать операцию!", kOk}},
    {Failure::kPageNotShown, {"page not shown", L"Невозможно показать страницу мастера!", kOk}},
};

constexpr bool RowsInOrder() {
    for (int at = 0; at < static_cast<int>(sizeof kBoxes / sizeof kBoxes[0]); ++at) {
        if (static_cast<int>(kBoxes[at].cause) != at)
            return false;
    }
    return true;
}
static_assert(RowsInOrder() &&
                  sizeof kBoxes / sizeof kBoxes[0] == static_cast<size_t>(Failure::kPageNotShown) + 1,
              "one row for every failure, in its order");

}  // namespace

const FailureBox& FailureBoxFor(Failure cause) {
    return kBoxes[static_cast<int>(cause)].box;
}
