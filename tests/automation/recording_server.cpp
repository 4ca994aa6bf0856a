// A stand-in for an installed spreadsheet application, for the tests under Wine: an out-of-process
// automation server that writes each member access it receives to a log, one line each, and answers the
// way the converter expects of a spreadsheet application. "Open" fails for a file whose name holds
// "fail-open", "SaveAs" for a path that holds "fail-save"; a saved workbook is a small text file.
//
//   recording_server --register PROGID {CLSID} LOG   registers the server (HKCR: ProgID, LocalServer32)
//   recording_server --unregister PROGID {CLSID}
//   recording_server --log LOG -Embedding            as COM starts it; ends after the last release
//
// Log lines: "Object.Member(arguments)" for a call or read, "Object.Member = value" for a property
// write, "created" when the application is bound and "released" when its last object goes.

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

std::wstring g_log;
HANDLE g_released = nullptr;
std::atomic<bool> g_used{false};

void log(const std::wstring& line)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, bytes.data(), size, nullptr, nullptr);
    if (FILE* file = _wfopen(g_log.c_str(), L"ab")) {
        std::fprintf(file, "%s\n", bytes.c_str());
        std::fclose(file);
    }
}

std::wstring text(const VARIANT& in)
{
    VARIANT v;
    VariantInit(&v);
    VariantCopyInd(&v, const_cast<VARIANT*>(&in));
    std::wstring out;
    if (v.vt == VT_BOOL) {
        out = v.boolVal ? L"true" : L"false";
    } else if (v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND) {
        out = L"missing";
    } else if (v.vt == (VT_ARRAY | VT_VARIANT)) {
        LONG lower = 0, upper = -1;
        SafeArrayGetLBound(v.parray, 1, &lower);
        SafeArrayGetUBound(v.parray, 1, &upper);
        out = L"[";
        for (LONG i = lower; i <= upper; ++i) {
            VARIANT item;
            VariantInit(&item);
            SafeArrayGetElement(v.parray, &i, &item);
            out += (i > lower ? L", " : L"") + text(item);
            VariantClear(&item);
        }
        out += L"]";
    } else {
        out = SUCCEEDED(VariantChangeType(&v, &v, 0, VT_BSTR)) ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal))
                                                               : L"?";
    }
    VariantClear(&v);
    return out;
}

HRESULT raise(EXCEPINFO* info, const std::wstring& description)
{
    if (info) {
        *info = EXCEPINFO{};
        info->scode = E_FAIL;
        info->bstrSource = SysAllocString(L"Recording spreadsheet");
        info->bstrDescription = SysAllocString(description.c_str());
    }
    return DISP_E_EXCEPTION;
}

// One object of the server. Members are numbered from 1 in the order they are added; names are matched
// without regard to case, as COM does. Reference counted as COM objects are: it deletes itself.
class Object final : public IDispatch
{
public:
    // Arguments in their written order; a property write has its value as the only argument.
    using Member = std::function<HRESULT(const std::vector<VARIANT*>& arguments, VARIANT* result, EXCEPINFO* info)>;

    explicit Object(std::wstring kind) : kind_(std::move(kind))
    {
        g_used = true;
        CoAddRefServerProcess();
    }
    void add(const wchar_t* name, Member member) { members_.emplace_back(name, std::move(member)); }
    void whenGone(std::function<void()> action) { gone_ = std::move(action); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid != IID_IUnknown && iid != IID_IDispatch) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
            if (CoReleaseServerProcess() == 0)
                SetEvent(g_released);
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        for (std::size_t i = 0; count > 0 && i < members_.size(); ++i) {
            if (_wcsicmp(names[0], members_[i].first.c_str()) == 0) {
                ids[0] = static_cast<DISPID>(i + 1);
                return S_OK;
            }
        }
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                     EXCEPINFO* info, UINT*) override
    {
        if (id < 1 || static_cast<std::size_t>(id) > members_.size())
            return DISP_E_MEMBERNOTFOUND;
        std::vector<VARIANT*> arguments;
        for (UINT i = parameters->cArgs; i > 0; --i)
            arguments.push_back(&parameters->rgvarg[i - 1]);
        const std::wstring& name = members_[static_cast<std::size_t>(id - 1)].first;
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            log(kind_ + L"." + name + L" = " + (arguments.empty() ? L"?" : text(*arguments.back())));
        } else {
            std::wstring line = kind_ + L"." + name + L"(";
            for (std::size_t i = 0; i < arguments.size(); ++i)
                line += (i ? L", " : L"") + text(*arguments[i]);
            log(line + L")");
        }
        VARIANT ignored;
        VariantInit(&ignored);
        const HRESULT done = members_[static_cast<std::size_t>(id - 1)].second(arguments, result ? result : &ignored, info);
        VariantClear(&ignored);
        return done;
    }

private:
    ~Object()
    {
        if (gone_)
            gone_();
    }

    std::wstring kind_;
    std::atomic<ULONG> references_{1};
    std::vector<std::pair<std::wstring, Member>> members_;
    std::function<void()> gone_;
};

HRESULT none(const std::vector<VARIANT*>&, VARIANT*, EXCEPINFO*)
{
    return S_OK;
}

// Hands `object`'s reference to the caller as the result.
HRESULT give(Object* object, VARIANT* result)
{
    result->vt = VT_DISPATCH;
    result->pdispVal = object;
    return S_OK;
}

std::wstring argumentText(const std::vector<VARIANT*>& arguments, std::size_t i)
{
    return i < arguments.size() ? text(*arguments[i]) : std::wstring();
}

Object* newRange()
{
    auto* range = new Object(L"Range");
    range->add(L"NumberFormatLocal", none);
    range->add(L"Value", none);
    return range;
}

Object* newSheet()
{
    auto* sheet = new Object(L"Sheet");
    sheet->add(L"Columns", [](const std::vector<VARIANT*>&, VARIANT* result, EXCEPINFO*) { return give(newRange(), result); });
    sheet->add(L"Cells", [](const std::vector<VARIANT*>&, VARIANT* result, EXCEPINFO*) { return give(newRange(), result); });
    return sheet;
}

// The application's state: its workbooks collection and the active workbook, each holding a reference.
struct Application
{
    Object* workbooks = nullptr;
    Object* active = nullptr;

    void activate(Object* workbook)
    {
        if (active)
            active->Release();
        active = workbook;
    }
};
using State = std::shared_ptr<Application>;

// A new workbook, made the active one; the caller gets a reference of its own.
Object* newWorkbook(const State& state)
{
    auto* workbook = new Object(L"Workbook");
    workbook->add(L"SaveAs", [](const std::vector<VARIANT*>& arguments, VARIANT*, EXCEPINFO* info) {
        const std::wstring path = argumentText(arguments, 0);
        if (path.find(L"fail-save") != std::wstring::npos)
            return raise(info, L"cannot save " + path);
        FILE* file = _wfopen(path.c_str(), L"wb");
        if (!file)
            return raise(info, L"cannot write " + path);
        std::fputs("workbook of the recording spreadsheet\n", file);
        std::fclose(file);
        return S_OK;
    });
    const std::weak_ptr<Application> weak = state;
    workbook->add(L"Close", [weak, workbook](const std::vector<VARIANT*>&, VARIANT*, EXCEPINFO*) {
        if (const State owner = weak.lock(); owner && owner->active == workbook)
            owner->activate(nullptr);
        return S_OK;
    });
    workbook->AddRef();
    state->activate(workbook);
    return workbook;
}

Object* newWorkbooks(const State& state)
{
    auto* workbooks = new Object(L"Workbooks");
    workbooks->add(L"Open", [state](const std::vector<VARIANT*>& arguments, VARIANT* result, EXCEPINFO* info) {
        const std::wstring path = argumentText(arguments, 0);
        if (path.find(L"fail-open") != std::wstring::npos || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            return raise(info, L"cannot open " + path);
        return give(newWorkbook(state), result);
    });
    workbooks->add(L"OpenText", [state](const std::vector<VARIANT*>&, VARIANT*, EXCEPINFO*) {
        newWorkbook(state)->Release();
        return S_OK;
    });
    workbooks->add(L"Add", [state](const std::vector<VARIANT*>&, VARIANT* result, EXCEPINFO*) {
        return give(newWorkbook(state), result);
    });
    return workbooks;
}

Object* newApplication()
{
    auto* application = new Object(L"Application");
    const State state = std::make_shared<Application>();
    const std::weak_ptr<Application> weak = state;
    state->workbooks = newWorkbooks(state);
    application->add(L"Visible", none);
    application->add(L"DisplayAlerts", none);
    application->add(L"WorkBooks", [weak](const std::vector<VARIANT*>&, VARIANT* result, EXCEPINFO*) {
        const State owner = weak.lock();
        owner->workbooks->AddRef();
        return give(owner->workbooks, result);
    });
    application->add(L"ActiveWorkBook", [weak](const std::vector<VARIANT*>&, VARIANT* result, EXCEPINFO*) {
        const State owner = weak.lock();
        if (owner->active)
            owner->active->AddRef();
        return give(owner->active, result); // Nothing when no workbook is open
    });
    application->add(L"ActiveSheet", [weak](const std::vector<VARIANT*>&, VARIANT* result, EXCEPINFO*) {
        return weak.lock()->active ? give(newSheet(), result) : give(nullptr, result);
    });
    application->add(L"Quit", [weak](const std::vector<VARIANT*>&, VARIANT*, EXCEPINFO*) {
        weak.lock()->activate(nullptr);
        return S_OK;
    });
    // The collection and what is open go with the application's last reference. The collection holds the
    // state for its members; the application, the only other owner, lets both go here.
    application->whenGone([state] {
        state->activate(nullptr);
        state->workbooks->Release();
    });
    return application;
}

class Factory final : public IClassFactory
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid != IID_IUnknown && iid != IID_IClassFactory) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        log(L"created");
        Object* application = newApplication();
        const HRESULT done = application->QueryInterface(iid, object);
        application->Release();
        return done;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            CoAddRefServerProcess();
        else if (CoReleaseServerProcess() == 0)
            SetEvent(g_released);
        return S_OK;
    }
};

bool setDefault(const std::wstring& key, const std::wstring& value)
{
    return RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

int serve(const CLSID& id)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    g_released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    static Factory factory;
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(id, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie)))
        return 3;
    // Ends after the last object goes, or when nobody came within a minute.
    while (WaitForSingleObject(g_released, 60000) == WAIT_TIMEOUT) {
        if (!g_used)
            break;
    }
    CoRevokeClassObject(cookie);
    log(L"released");
    CoUninitialize();
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::vector<std::wstring> arguments(argv + 1, argv + argc);
    auto at = [&](std::size_t i) { return i < arguments.size() ? arguments[i] : std::wstring(); };
    if (at(0) == L"--register" && arguments.size() >= 4) {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        const std::wstring command = L"\"" + std::wstring(self) + L"\" --log \"" + at(3) + L"\" " + at(2);
        const bool done = setDefault(at(1) + L"\\CLSID", at(2)) &&
                          setDefault(L"CLSID\\" + at(2) + L"\\LocalServer32", command) &&
                          setDefault(L"CLSID\\" + at(2) + L"\\ProgID", at(1));
        return done ? 0 : 1;
    }
    if (at(0) == L"--unregister" && arguments.size() >= 3) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, at(1).c_str());
        RegDeleteKeyW(HKEY_CLASSES_ROOT, at(1).c_str());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + at(2)).c_str());
        RegDeleteKeyW(HKEY_CLASSES_ROOT, (L"CLSID\\" + at(2)).c_str());
        return 0;
    }
    if (at(0) == L"--log" && arguments.size() >= 3) {
        g_log = at(1);
        CLSID id;
        if (FAILED(CLSIDFromString(at(2).c_str(), &id)))
            return 2;
        return serve(id);
    }
    std::fputs("usage: recording_server --register PROGID {CLSID} LOG | --unregister PROGID {CLSID}\n", stderr);
    return 2;
}
