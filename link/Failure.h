// What went wrong, as the part of the program that met it knows it. The window that tells the
// user picks the words and the box.
#pragma once

enum class Failure {
    kPortNotOpen,          // the tracker's COM port would not open
    kTrackerSilent,        // the tracker did not answer within its time
    kBackupNotWritten,     // the settings could not be kept in the backup
    kBackupNotRead,        // the backup could not be read, or holds no setting
    kLineNotSent,          // one backup line did not reach the tracker; the others still may
    kSettingsNotRestored,  // the restore ended without every setting on the tracker
    kUploadFailed,         // the boot loader did not take the whole image
    kEmptyFirmware,        // the chosen firmware file holds nothing (a download cut short)
    kWorkNotStarted,       // the system could not start a page's work
    kPageNotShown,         // the system could not show a page at all
};
