#include "framework/dialog.h"

#include "framework/exception.h"
#include "framework/win_app.h"

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.m_hWnd)
        return;
    HWND hControl = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (hControl)
        rControl.SubclassWindow(hControl);
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd) {
    m_nIDTemplate = nIDTemplate;
    m_pParentWnd = pParentWnd;
    HWND parent = pParentWnd ? pParentWnd->m_hWnd : nullptr;
    HWND hWnd = CreateDialogParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(nIDTemplate), parent,
                                   &DialogProc, reinterpret_cast<LPARAM>(this));
    return hWnd != nullptr;
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx = {this, bSaveAndValidate};
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

// The dialog manager's procedure: it only binds the object when WM_INITDIALOG arrives and
// runs OnInitDialog. From then on the object's own window procedure sees every message first
// and leaves the rest to the dialog manager, which comes back here and gets "not handled".
INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG)
        return FALSE;
    CDialog* self = reinterpret_cast<CDialog*>(lParam);
    if (!self || FromHandlePermanent(hWnd))
        return FALSE;
    self->Attach(hWnd);
    try {
        return self->OnInitDialog();
    } catch (CException* e) {
        e->Delete();
    } catch (...) {
    }
    return TRUE;
}
