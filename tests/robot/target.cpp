// The robot's own test target. The end-to-end harness drives it to prove that the robot reads,
// presses and refuses what it should, before it is trusted with the real program.
//
// Exit codes tell the harness how the target ended: 7 from "Далее", 0 from OK in the exit
// question, 5 with Wine's page-fault report from "Сбой".

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>

#include <stdio.h>
#include <stdlib.h>

#include "target_ids.h"

namespace {

int g_deviceChanges = 0;
wchar_t g_path[MAX_PATH];

void ChooseFile(HWND dlg) {
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = dlg;
    ofn.lpstrFilter = L"Firmware Files (*.dfu)\0*.dfu\0All Files (*.*)\0*.*\0";
    ofn.lpstrFile = g_path;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrTitle = L"Open a file for the robot";
    g_path[0] = L'\0';
    if (!GetOpenFileNameW(&ofn))
        return;
    SetDlgItemTextW(dlg, IDC_PATH, g_path);
    EnableWindow(GetDlgItem(dlg, IDOK), TRUE);
}

INT_PTR CALLBACK TargetProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG:
            CheckDlgButton(dlg, IDC_RADIO_FIRST, BST_CHECKED);
            SendDlgItemMessageW(dlg, IDC_PROGRESS, PBM_SETRANGE32, 0, 50);
            SendDlgItemMessageW(dlg, IDC_PROGRESS, PBM_SETPOS, 7, 0);
            return TRUE;
        case WM_DEVICECHANGE:
            if (wp == DBT_DEVNODES_CHANGED)
                SetDlgItemInt(dlg, IDC_DEVICE_COUNT, ++g_deviceChanges, FALSE);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wp)) {
                case IDOK:
                    EndDialog(dlg, 7);
                    return TRUE;
                case IDCANCEL:
                    if (MessageBoxW(dlg, L"Закрыть программу  Robot Target?", L"Предупреждение!",
                                    MB_OKCANCEL | MB_ICONWARNING) == IDOK)
                        exit(0);
                    return TRUE;
                case IDC_OPEN:
                    ChooseFile(dlg);
                    return TRUE;
                case IDC_ASK: {
                    int answer = MessageBoxW(dlg, L"Первая строка\nвторая строка", L"Вопрос", MB_YESNO);
                    wchar_t text[32];
                    wsprintfW(text, L"answer %d", answer);
                    SetDlgItemTextW(dlg, IDC_FREE_TEXT, text);
                    return TRUE;
                }
                case IDC_REOPEN:
                case IDC_HIDDEN:
                    EndDialog(dlg, LOWORD(wp));
                    return TRUE;
                case IDC_CRASH:
                    *(volatile int*)nullptr = 1;
                    return TRUE;
            }
            break;
    }
    return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    printf("target up\n");
    fflush(stdout);
    INT_PTR result;
    do {
        result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_TARGET), nullptr, TargetProc, 0);
        printf("dialog ended with %d\n", (int)result);
        fflush(stdout);
    } while (result == IDC_REOPEN);
    return result == IDC_HIDDEN ? 11 : (int)result;
}
