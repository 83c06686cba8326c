#include "framework/com_variant.h"

#include <gtest/gtest.h>

#include <string.h>

// The literals are code page 936 text in the program; COM text is UTF-16.
TEST(ComText, ConvertsInTheAnsiCodePage) {
    CBstr chinese("中文 a");
    EXPECT_EQ(SysStringLen(chinese.Get()), 4u);
    EXPECT_EQ(wcscmp(chinese.Get(), L"\u4e2d\u6587 a"), 0);

    CVariant text;
    text.Ptr()->vt = VT_BSTR;
    text.Ptr()->bstrVal = SysAllocString(L"\u6570\u636e.dat");
    EXPECT_STREQ(CStringFromVariant(text.Get()), "数据.dat");
}
