// Message maps: each window class lists the messages and commands it handles, and dispatch
// walks from the most derived class's map to its bases.
#pragma once
#include <windows.h>

class CCmdTarget;

typedef void (CCmdTarget::*AFX_PMSG)();
typedef HCURSOR (CCmdTarget::*AFX_PMSG_HCURSOR)();
typedef LRESULT (CCmdTarget::*AFX_PMSG_MESSAGE)(WPARAM, LPARAM);

// How the handler of an entry is called.
enum AfxSig {
    AfxSig_end = 0,
    AfxSig_vv,   // void Handler()
    AfxSig_hv,   // HCURSOR Handler()
    AfxSig_lwl,  // LRESULT Handler(WPARAM, LPARAM)
};

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    UINT nCode;    // notification code, for WM_COMMAND
    UINT nID;      // first control id, for WM_COMMAND
    UINT nLastID;  // last control id, for WM_COMMAND
    AfxSig nSig;
    AFX_PMSG pfn;
    AFX_PMSG_HCURSOR pfnHcursor;
    AFX_PMSG_MESSAGE pfnMessage;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP*(PASCAL* pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// The first entry of the most derived map that matches, or null.
const AFX_MSGMAP_ENTRY* AfxFindMessageEntry(const AFX_MSGMAP* map, UINT message, UINT code, UINT id);

#define DECLARE_MESSAGE_MAP()                            \
protected:                                               \
    static const AFX_MSGMAP* PASCAL GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)               \
    const AFX_MSGMAP* theClass::GetMessageMap() const {      \
        return GetThisMessageMap();                          \
    }                                                        \
    const AFX_MSGMAP* PASCAL theClass::GetThisMessageMap() { \
        typedef theClass ThisClass;                          \
        typedef baseClass TheBaseClass;                      \
        static const AFX_MSGMAP_ENTRY messageEntries[] = {
#define END_MESSAGE_MAP()                                                                        \
    { 0, 0, 0, 0, AfxSig_end, nullptr, nullptr, nullptr }                                        \
    }                                                                                            \
    ;                                                                                            \
    static_cast<void>(sizeof(ThisClass));                                                        \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &messageEntries[0]}; \
    return &messageMap;                                                                          \
    }

#define AFX_VV(memberFxn) static_cast<AFX_PMSG>(static_cast<void (ThisClass::*)()>(&ThisClass::memberFxn))

#define ON_COMMAND(id, memberFxn) \
    {WM_COMMAND, 0, (WORD)(id), (WORD)(id), AfxSig_vv, AFX_VV(memberFxn), nullptr, nullptr},
#define ON_BN_CLICKED(id, memberFxn) \
    {WM_COMMAND, BN_CLICKED, (WORD)(id), (WORD)(id), AfxSig_vv, AFX_VV(memberFxn), nullptr, nullptr},
#define ON_WM_PAINT() {WM_PAINT, 0, 0, 0, AfxSig_vv, AFX_VV(OnPaint), nullptr, nullptr},
#define ON_WM_QUERYDRAGICON()                                                                           \
    {WM_QUERYDRAGICON,                                                                                  \
     0,                                                                                                 \
     0,                                                                                                 \
     0,                                                                                                 \
     AfxSig_hv,                                                                                         \
     nullptr,                                                                                           \
     static_cast<AFX_PMSG_HCURSOR>(static_cast<HCURSOR (ThisClass::*)()>(&ThisClass::OnQueryDragIcon)), \
     nullptr},
#define ON_MESSAGE(message, memberFxn) \
    {message,                          \
     0,                                \
     0,                                \
     0,                                \
     AfxSig_lwl,                       \
     nullptr,                          \
     nullptr,                          \
     static_cast<AFX_PMSG_MESSAGE>(    \
         static_cast<LRESULT (ThisClass::*)(WPARAM, LPARAM)>(&ThisClass::memberFxn))},
