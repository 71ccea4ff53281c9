// The thread's locale, and so its code page, switched for one test and put back after it: a
// PC whose regional settings differ from its language for non-Unicode programs.
#pragma once
#include <windows.h>

class ThreadLocale {
public:
    explicit ThreadLocale(LANGID language) : previous_(::GetThreadLocale()) {
        ::SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
    }
    ~ThreadLocale() { ::SetThreadLocale(previous_); }
    ThreadLocale(const ThreadLocale&) = delete;
    ThreadLocale& operator=(const ThreadLocale&) = delete;

private:
    LCID previous_;
};
