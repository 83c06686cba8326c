#include "framework/com_ptr.h"
#include "framework/com_variant.h"

#include <gtest/gtest.h>

#include <string.h>

namespace {

// Counts its references; knows no interface but IUnknown.
class CountedObject : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_refs); }
    virtual ~CountedObject() = default;

    LONG m_refs = 0;
};

// Hands over a new reference, as a COM out-parameter does.
void Hand(CountedObject& object, IUnknown** pp) {
    object.AddRef();
    *pp = &object;
}

} // namespace

TEST(InterfacePtr, ReleasesWhatItHoldsOnEveryWayOut) {
    CountedObject first, second;
    {
        CInterfacePtr<IUnknown> p;
        Hand(first, p.Receive());
        EXPECT_EQ(first.m_refs, 1);
        Hand(second, p.Receive()); // receiving again gives up the earlier object
        EXPECT_EQ(first.m_refs, 0);

        CInterfacePtr<IUnknown> moved(std::move(p));
        EXPECT_FALSE(p);
        EXPECT_EQ(second.m_refs, 1);

        CInterfacePtr<IUnknown> asked;
        EXPECT_EQ(moved.QueryInterface(IID_IUnknown, asked), S_OK);
        EXPECT_EQ(second.m_refs, 2);
        CInterfacePtr<IDispatch> refused;
        EXPECT_EQ(moved.QueryInterface(IID_IDispatch, refused), E_NOINTERFACE);
        EXPECT_FALSE(refused);
        EXPECT_EQ(second.m_refs, 2);
        EXPECT_EQ(refused.QueryInterface(IID_IUnknown, asked), E_POINTER);
        EXPECT_FALSE(asked);
        EXPECT_EQ(second.m_refs, 1);
    }
    EXPECT_EQ(second.m_refs, 0);

    try {
        CInterfacePtr<IUnknown> p;
        Hand(first, p.Receive());
        throw 1;
    } catch (int) {
    }
    EXPECT_EQ(first.m_refs, 0);
}

TEST(ComText, AnsiTextAndBstrConvertInTheAnsiCodePage) {
    // The literals are code page 936 text in the program.
    CBstr chinese("中文 a");
    ASSERT_NE(chinese.Get(), nullptr);
    EXPECT_EQ(SysStringLen(chinese.Get()), 4u);
    EXPECT_EQ(wcscmp(chinese.Get(), L"\u4e2d\u6587 a"), 0);
    CBstr empty("");
    ASSERT_NE(empty.Get(), nullptr);
    EXPECT_EQ(SysStringLen(empty.Get()), 0u);

    CVariant text;
    text.Ptr()->vt = VT_BSTR;
    text.Ptr()->bstrVal = SysAllocString(L"\u6570\u636e.dat");
    EXPECT_STREQ(CStringFromVariant(text.Get()), "数据.dat");

    // A character the code page lacks becomes its default character; a zero ends the text.
    text.Clear();
    text.Ptr()->vt = VT_BSTR;
    text.Ptr()->bstrVal = SysAllocStringLen(L"\u0e01x\0y", 4);
    const CString converted = CStringFromVariant(text.Get());
    EXPECT_EQ(converted.GetLength(), 2);
    EXPECT_STREQ(converted, "?x");

    text.Clear();
    text.Ptr()->vt = VT_BSTR; // a null BSTR is the empty text
    EXPECT_STREQ(CStringFromVariant(text.Get()), "");
}

TEST(ComText, OnlyBstrVariantsConvertToText) {
    CVariant missing;
    missing.SetMissing();
    EXPECT_EQ(missing.Get().vt, VT_ERROR);
    EXPECT_EQ(missing.Get().scode, DISP_E_PARAMNOTFOUND);
    COleException* caught = nullptr;
    try {
        CStringFromVariant(missing.Get());
    } catch (COleException* e) {
        caught = e;
    }
    ASSERT_NE(caught, nullptr);
    EXPECT_EQ(caught->m_sc, DISP_E_TYPEMISMATCH);
    caught->Delete();
}
