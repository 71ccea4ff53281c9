// The nine pages of the wizard, in the order the first job shows them by number.
#pragma once
#include "afxcmn.h"
#include "app/WizardPage.h"
#include "app/WorkPage.h"
#include "transfer/UploadWork.h"

// Page 1: the choice of job.
class CAboutDlg0 : public CWizardPage {
public:
    CAboutDlg0();
    BOOL OnInitDialog() override;

protected:
    void OnNextJob();
    DECLARE_MESSAGE_MAP()
};

// Page 2: plug in and switch on the tracker; Next comes alive when its port is found.
class CAboutDlg1 : public CWizardPage {
public:
    CAboutDlg1();
    BOOL OnInitDialog() override;
    DECLARE_MESSAGE_MAP()
};

// Page 3: the firmware file.
class CAboutDlg2 : public CWizardPage {
public:
    CAboutDlg2();

protected:
    void OnChooseFile();
    DECLARE_MESSAGE_MAP()
};

// Page 4: saving the tracker's settings.
class CAboutDlg3 : public CWorkPage {
public:
    CAboutDlg3();
    ~CAboutDlg3() override;
    BOOL OnInitDialog() override;
    CProgressCtrl m_progress;

protected:
    void DoDataExchange(CDataExchange* dx) override;
};

// Page 5: the user holds the power button and presses Reset until the boot loader answers.
class CAboutDlg4 : public CWorkPage {
public:
    CAboutDlg4();
    BOOL OnInitDialog() override;
};

// Page 6: the firmware upload; the bar follows the sender's progress reports.
class CAboutDlg5 : public CWorkPage {
public:
    CAboutDlg5();
    ~CAboutDlg5() override;
    BOOL OnInitDialog() override;
    CProgressCtrl m_progress;
    // The image as the upload reads it, open from the page's start until its work ends.
    FirmwareImage m_image = {};

protected:
    void DoDataExchange(CDataExchange* dx) override;
    LRESULT OnUploadEnded(WPARAM outcome, LPARAM);
    DECLARE_MESSAGE_MAP()

private:
    CFile m_imageFile;
};

// Page 7: the tracker restarts with its new firmware.
class CAboutDlg6 : public CWorkPage {
public:
    CAboutDlg6();
    BOOL OnInitDialog() override;
};

// Page 8: restoring the tracker's settings.
class CAboutDlg7 : public CWorkPage {
public:
    CAboutDlg7();
    ~CAboutDlg7() override;
    BOOL OnInitDialog() override;
    CProgressCtrl m_progress;

protected:
    void DoDataExchange(CDataExchange* dx) override;
};

// Page 9: the end; its button closes the program.
class CAboutDlg8 : public CWizardPage {
public:
    CAboutDlg8();
    BOOL OnInitDialog() override;
    DECLARE_MESSAGE_MAP()
};

extern CAboutDlg0 g_jobPage;
extern CAboutDlg1 g_connectPage;
extern CAboutDlg2 g_filePage;
extern CAboutDlg3 g_savePage;
extern CAboutDlg4 g_bootPage;
extern CAboutDlg5 g_uploadPage;
extern CAboutDlg6 g_powerOnPage;
extern CAboutDlg7 g_restorePage;
extern CAboutDlg8 g_finishPage;

// What port discovery shows on the pages that display the tracker's port. Each is called only
// while its page is open.
void SetConnectPagePort(const wchar_t* portName);
void SetBootPagePort(const wchar_t* portName);
void SetPowerOnPagePort(const wchar_t* portName);

enum class WizardPage;
// The static page object that shows the given page.
CDialog& PageObject(WizardPage page);
