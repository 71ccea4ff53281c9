// The nine pages of the wizard, in the order the first job shows them by number.
#pragma once
#include "app/WizardPage.h"
#include "app/WorkPage.h"
#include "transfer/UploadWork.h"

// Page 1: the choice of job.
class CJobPage : public CWizardPage {
public:
    CJobPage();
    BOOL OnInitDialog() override;

protected:
    void OnNextJob();
    DECLARE_MESSAGE_MAP()
};

// Page 2: plug in and switch on the tracker; Next comes alive when its port is found.
class CConnectPage : public CWizardPage {
public:
    CConnectPage();
    BOOL OnInitDialog() override;
    DECLARE_MESSAGE_MAP()
};

// Page 3: the firmware file.
class CFirmwareFilePage : public CWizardPage {
public:
    CFirmwareFilePage();

protected:
    void OnChooseFile();
    DECLARE_MESSAGE_MAP()
};

// Page 4: saving the tracker's settings.
class CSaveSettingsPage : public CBarPage {
public:
    CSaveSettingsPage();
    BOOL OnInitDialog() override;
};

// Page 5: the user holds the power button and presses Reset until the boot loader answers.
class CBootLoaderPage : public CWorkPage {
public:
    CBootLoaderPage();
    BOOL OnInitDialog() override;
};

// Page 6: the firmware upload; the bar follows the sender's progress reports.
class CUploadPage : public CBarPage {
public:
    CUploadPage();
    BOOL OnInitDialog() override;
    // The image as the upload reads it, open from the page's start until its work ends.
    FirmwareImage m_image = {};

protected:
    LRESULT OnUploadEnded(WPARAM outcome, LPARAM);
    DECLARE_MESSAGE_MAP()

private:
    CFile m_imageFile;
};

// Page 7: the tracker restarts with its new firmware.
class CRestartPage : public CWorkPage {
public:
    CRestartPage();
    BOOL OnInitDialog() override;
};

// Page 8: restoring the tracker's settings.
class CRestoreSettingsPage : public CBarPage {
public:
    CRestoreSettingsPage();
    BOOL OnInitDialog() override;
};

// Page 9: the end; its button closes the program.
class CFinishPage : public CWizardPage {
public:
    CFinishPage();
    BOOL OnInitDialog() override;
    DECLARE_MESSAGE_MAP()
};

extern CJobPage g_jobPage;
extern CConnectPage g_connectPage;
extern CFirmwareFilePage g_firmwareFilePage;
extern CSaveSettingsPage g_saveSettingsPage;
extern CBootLoaderPage g_bootLoaderPage;
extern CUploadPage g_uploadPage;
extern CRestartPage g_restartPage;
extern CRestoreSettingsPage g_restoreSettingsPage;
extern CFinishPage g_finishPage;

// What port discovery shows on the pages that display the tracker's port. Each is called only
// while its page is open.
void SetConnectPagePort(const wchar_t* portName);
void SetBootLoaderPagePort(const wchar_t* portName);
void SetRestartPagePort(const wchar_t* portName);

enum class WizardPage;
// The static page object that shows the given page.
CDialog& PageObject(WizardPage page);
