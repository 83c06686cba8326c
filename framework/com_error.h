// Failure codes of COM calls raised as framework exceptions (thrown as heap pointers, released
// with Delete()).
#pragma once

#include "framework/exception.h"

#include <objbase.h>

class COleException : public CException {
public:
    explicit COleException(HRESULT sc) : m_sc(sc) {}
    BOOL GetErrorMessage(char* pszError, UINT nMaxError,
                         UINT* pnHelpContext = nullptr) const override {
        if (pnHelpContext)
            *pnHelpContext = 0;
        return FormatSystemMessage(static_cast<DWORD>(m_sc), nullptr, pszError, nMaxError);
    }

    HRESULT m_sc;
};

// Throws a COleException* for a failure code; success codes (S_FALSE too) pass.
inline void CheckResult(HRESULT hr) {
    if (FAILED(hr))
        throw new COleException(hr);
}
