#include "ui/accessible_window.h"

#include <oleacc.h>

#include "ui/library_function.h"

// Interface ids by __uuidof rather than libuuid, whose IID_IDispatch comes in one object with
// thousands of others.
namespace {
using CreateStandardObject = decltype(&CreateStdAccessibleObject);
using ObjectResult = decltype(&LresultFromObject);
using AllocateString = decltype(&SysAllocStringLen);

bool IsSelf(const VARIANT& child)
{
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

// The window's object with our facts in front; reference counted as COM wants it.
class AccessibleWindow final : public IAccessible {
public:
    AccessibleWindow(HWND window, IAccessible* standard, DescribeWindow describe)
        : Window(window), Standard(standard), Describe(describe)
    {
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (id != __uuidof(IUnknown) && id != __uuidof(IDispatch) && id != __uuidof(IAccessible))
            return Standard->QueryInterface(id, object);
        *object = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&References); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&References);
        if (left == 0) {
            Standard->Release();
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return Standard->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override
    {
        return Standard->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID id, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override
    {
        return Standard->GetIDsOfNames(id, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID id, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argument) override
    {
        return Standard->Invoke(member, id, locale, flags, parameters, result, exception, argument);
    }

    // IAccessible: what we know ourselves
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        AccessibleFacts facts;
        if (!IsSelf(child) || !Describe(Window, facts))
            return Standard->get_accName(child, name);
        return Text(facts.Name, name);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override
    {
        AccessibleFacts facts;
        if (!IsSelf(child) || !Describe(Window, facts))
            return Standard->get_accDescription(child, description);
        return Text(facts.Description, description);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        AccessibleFacts facts;
        if (!IsSelf(child) || !Describe(Window, facts) || !facts.Role)
            return Standard->get_accRole(child, role);
        if (!role)
            return E_POINTER;
        role->vt = VT_I4;
        role->lVal = facts.Role;
        return S_OK;
    }
    // The standard state (focused, invisible, ...), with unavailable exactly while disabled.
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        const HRESULT result = Standard->get_accState(child, state);
        AccessibleFacts facts;
        if (FAILED(result) || !IsSelf(child) || state->vt != VT_I4 || !Describe(Window, facts))
            return result;
        state->lVal &= ~STATE_SYSTEM_UNAVAILABLE;
        if (!IsWindowEnabled(Window))
            state->lVal |= STATE_SYSTEM_UNAVAILABLE;
        if (facts.Focusable)
            state->lVal |= STATE_SYSTEM_FOCUSABLE;
        return S_OK;
    }

    // IAccessible: the rest as the system's object answers it
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return Standard->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override { return Standard->get_accChildCount(count); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override
    {
        return Standard->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        return Standard->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override { return Standard->get_accHelp(child, help); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override
    {
        return Standard->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override
    {
        return Standard->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override { return Standard->get_accFocus(child); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override
    {
        return Standard->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        return Standard->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override { return Standard->accSelect(flags, child); }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override
    {
        return Standard->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override
    {
        return Standard->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override
    {
        return Standard->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override { return Standard->accDoDefaultAction(child); }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override { return Standard->put_accName(child, name); }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override
    {
        return Standard->put_accValue(child, value);
    }

private:
    ~AccessibleWindow() = default;

    static HRESULT Text(std::wstring_view text, BSTR* out)
    {
        if (!out)
            return E_POINTER;
        const auto allocate = LibraryFunction<AllocateString>("oleaut32.dll", "SysAllocStringLen");
        *out = allocate ? allocate(text.data(), static_cast<UINT>(text.size())) : nullptr;
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    LONG References = 1;
    HWND Window;
    IAccessible* Standard;
    DescribeWindow Describe;
};
}

LRESULT AnswerGetObject(HWND window, WPARAM wParam, LPARAM lParam, DescribeWindow describe)
{
    // The object id is a 32-bit value, which a 64-bit lParam may carry sign-extended or not.
    if (static_cast<LONG>(static_cast<DWORD>(lParam)) != OBJID_CLIENT)
        return 0;
    const auto createStandard = LibraryFunction<CreateStandardObject>("oleacc.dll", "CreateStdAccessibleObject");
    const auto objectResult = LibraryFunction<ObjectResult>("oleacc.dll", "LresultFromObject");
    IAccessible* standard = nullptr;
    if (!createStandard || !objectResult ||
        FAILED(createStandard(window, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&standard))))
        return 0;
    AccessibleWindow* object = new AccessibleWindow(window, standard, describe);
    LRESULT result = objectResult(__uuidof(IAccessible), wParam, object);
    // Windows marshals the object through COM, which this thread uses for nothing else until a
    // screen reader asks: then it joins an apartment, once, and for good.
    if (result == CO_E_NOTINITIALIZED && SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        result = objectResult(__uuidof(IAccessible), wParam, object);
    object->Release();   // the result holds its own reference
    // A failure (an error code) leaves the answer to the system's own object.
    return result < 0 ? 0 : result;
}
