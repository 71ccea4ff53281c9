// The program's entry point belongs to the library, as in any application of it.
#include "afxwin.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    return AfxWinMain(instance);
}
