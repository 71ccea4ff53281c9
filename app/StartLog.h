// The support log's first lines of a run: what a support person needs to know of the PC before
// anything happened.
#pragma once

// Opens the log beside back.pro (or none, without a word) and tells it the program's version, the
// system's as the system really reports it, and the code pages the tracker's settings are carried
// in.
void StartSupportLog();
