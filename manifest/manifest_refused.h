// A manifest refused for a reason of the check's own; the reason goes to the run log.
#pragma once

#include "framework/exception.h"
#include "framework/format.h"

class CManifestRefused : public CException {
public:
    explicit CManifestRefused(const char* pszReason) {
        FormatText(m_szReason, sizeof(m_szReason), "%s", pszReason);
    }
    BOOL GetErrorMessage(char* pszError, UINT nMaxError, UINT* pnHelpContext) const override {
        if (pnHelpContext)
            *pnHelpContext = 0;
        FormatText(pszError, nMaxError, "%s", m_szReason);
        return TRUE;
    }

private:
    char m_szReason[160];
};
