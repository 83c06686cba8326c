// Modeless dialogs from a template, and the binding of their controls to member objects.
#pragma once

#include "framework/wnd.h"

class CDialog;

struct CDataExchange {
    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

// Subclasses the dialog's control nID into rControl (once).
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr)
        : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

    // Creates the dialog modelessly; OnInitDialog runs inside this call.
    BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

protected:
    // Binds the controls (DoDataExchange); the result is the dialog's focus answer.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange*) {}

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
};
