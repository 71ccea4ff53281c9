// The support log: what the program saw and why it stopped, one line per event, so that a support
// person can tell it from the file alone. It changes nothing the user sees and costs them nothing:
// a log that cannot be written is skipped without a word.
#pragma once
#include <string>

// Where the lines go: the program's log file, or, with none set, nowhere.
class LogSink {
public:
    virtual ~LogSink() = default;
    // One event in UTF-8, without its line end; called from the page and worker threads at once.
    virtual void WriteLine(const std::string& text) = 0;
};

// The program sets its log file once at start; tests and the native build leave none.
void SetLogSink(LogSink* sink);

// One event, printf-style. Never a setting's payload: the tracker's settings hold phone numbers,
// passwords and server addresses; their kinds and numbers only, or counts.
void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A wide text (a path, a port or device name, a box's words) in UTF-8 for a line.
std::string Utf8(const wchar_t* text);
