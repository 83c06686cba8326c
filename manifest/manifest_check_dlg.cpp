#include "manifest/manifest_check.h"

#include "ui/updater_dlg.h"

BOOL CheckManifest(CUpdaterDlg* pDlg, const char* pszUrl) {
    return CheckManifestInto(pDlg->m_strInstallDir, pDlg->m_dwTotalBytes, pDlg->m_engine, pszUrl);
}
