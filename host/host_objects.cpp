// The script's global objects: ActiveXObject, Enumerator, ByRef, VBArray and
// WScript.

#include "bridge.h"

#include "text.h"

#include <time.h>

#include <string>

namespace comscript {
namespace {

constexpr const char *kPtr = COMSCRIPT_HIDDEN("ptr");
constexpr const char *kByRef = COMSCRIPT_HIDDEN("byref");
constexpr const char *kFinalizer = COMSCRIPT_HIDDEN("finalizer");

// Records the library a class is served from, for the check at the end.
void NoteLibrary(State *s, REFCLSID clsid) {
    OLECHAR text[40];
    if (!StringFromGUID2(clsid, text, 40)) return;
    std::u16string key = u"CLSID\\";
    key += reinterpret_cast<const char16_t *>(text);
    key += u"\\InprocServer32";
    HKEY hkey = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, reinterpret_cast<LPCWSTR>(key.c_str()), 0, KEY_READ, &hkey) != ERROR_SUCCESS)
        return;
    WCHAR value[1024];
    DWORD size = sizeof(value) - sizeof(WCHAR);
    DWORD type = 0;
    const LSTATUS status = RegQueryValueExW(hkey, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(hkey);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return;
    value[size / sizeof(WCHAR)] = 0;
    std::u16string library(reinterpret_cast<const char16_t *>(value));
    while (!library.empty() && library.back() == u'\0') library.pop_back();
    if (library.size() >= 2 && library.front() == u'"' && library.back() == u'"')
        library = library.substr(1, library.size() - 2);
    for (const auto &known : s->libraries)
        if (known == library) return;
    s->libraries.push_back(std::move(library));
}

// Creates the object of a ProgID (or a "{CLSID}") and pushes its proxy.
bool CreateAndPush(duk_context *ctx, duk_idx_t idx) {
    State *s = CurrentState();
    Failure f;
    const std::u16string name = StringAt(ctx, idx);
    CLSID clsid{};
    HRESULT hr = duk_is_string(ctx, idx) && !name.empty() ? S_OK : E_INVALIDARG;
    if (SUCCEEDED(hr)) {
        auto *text = reinterpret_cast<LPCOLESTR>(name.c_str());
        hr = name[0] == u'{' ? CLSIDFromString(text, &clsid) : CLSIDFromProgID(text, &clsid);
    }
    ComPtr<IUnknown> unk;
    if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, unk.receiveVoid());
    if (SUCCEEDED(hr)) {
        NoteLibrary(s, clsid);
        ComPtr<IDispatch> disp;
        if (FAILED(unk->QueryInterface(IID_IDispatch, disp.receiveVoid()))) disp.Reset();
        hr = PushObject(ctx, unk.get(), disp.get());
        if (SUCCEEDED(hr)) return true;
    }
    f = FailureOf(hr);
    f.description += u" (" + name + u")";
    PushFailure(ctx, f);
    return false;
}

duk_ret_t ActiveXObjectCtor(duk_context *ctx) {
    if (!CreateAndPush(ctx, 0)) return duk_throw(ctx);
    return 1;  // an object returned from a constructor takes the place of `this`
}

// ---------------------------------------------------------------- Enumerator

Holder *EnumeratorOfThis(duk_context *ctx) {
    duk_push_this(ctx);
    duk_get_prop_string(ctx, -1, kPtr);
    auto *h = static_cast<Holder *>(duk_get_pointer(ctx, -1));
    duk_pop_2(ctx);
    return h && h->kind == Holder::Kind::Enumerator ? h : nullptr;
}

HRESULT Fetch(Holder *e) {
    VariantClear(&e->current);
    e->atEnd = true;
    if (!e->enumerator) return E_UNEXPECTED;
    ULONG fetched = 0;
    const HRESULT hr = e->enumerator->Next(1, &e->current, &fetched);
    if (FAILED(hr)) return hr;
    e->atEnd = hr != S_OK || fetched != 1;
    return S_OK;
}

duk_ret_t EnumeratorCtor(duk_context *ctx) {
    if (!duk_is_constructor_call(ctx)) return duk_error(ctx, DUK_ERR_TYPE_ERROR, "use new Enumerator(collection)");
    Holder *source = ObjectAt(ctx, 0);
    if (!source) return duk_error(ctx, DUK_ERR_TYPE_ERROR, "Enumerator needs a collection object");
    bool failed = false;
    {
        Failure f;
        Variant result;
        HRESULT hr = InvokeMember(ctx, source, DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 1, 0,
                                  result.get(), f);
        ComPtr<IEnumVARIANT> en;
        if (SUCCEEDED(hr)) {
            const VARTYPE vt = V_VT(result.get());
            IUnknown *u = (vt == VT_UNKNOWN || vt == VT_DISPATCH) ? V_UNKNOWN(result.get()) : nullptr;
            hr = u ? u->QueryInterface(IID_IEnumVARIANT, en.receiveVoid()) : DISP_E_TYPEMISMATCH;
            if (FAILED(hr)) f = FailureOf(DISP_E_NOTACOLLECTION);
        } else if (hr == DISP_E_MEMBERNOTFOUND) {
            f = FailureOf(DISP_E_NOTACOLLECTION);
        }
        Holder *e = nullptr;
        if (SUCCEEDED(hr)) {
            e = CurrentState()->NewHolder(Holder::Kind::Enumerator);
            if (!e) f = FailureOf(hr = E_OUTOFMEMORY);
        }
        if (e) {
            e->enumerator = en.detach();
            duk_push_this(ctx);
            duk_push_pointer(ctx, e);
            duk_put_prop_string(ctx, -2, kPtr);
            duk_push_global_stash(ctx);
            duk_get_prop_string(ctx, -1, kFinalizer);
            duk_remove(ctx, -2);
            duk_set_finalizer(ctx, -2);
            duk_pop(ctx);
            hr = Fetch(e);
            if (FAILED(hr)) f = FailureOf(hr);
        }
        if (FAILED(hr)) {
            PushFailure(ctx, f);
            failed = true;
        }
    }
    if (failed) return duk_throw(ctx);
    return 0;
}

duk_ret_t EnumeratorAtEnd(duk_context *ctx) {
    Holder *e = EnumeratorOfThis(ctx);
    duk_push_boolean(ctx, !e || e->atEnd);
    return 1;
}

duk_ret_t EnumeratorItem(duk_context *ctx) {
    Holder *e = EnumeratorOfThis(ctx);
    if (!e || e->atEnd) {
        duk_push_undefined(ctx);
        return 1;
    }
    const HRESULT hr = PushVariant(ctx, &e->current);
    if (FAILED(hr)) {
        PushFailure(ctx, FailureOf(hr));
        return duk_throw(ctx);
    }
    return 1;
}

duk_ret_t EnumeratorMove(duk_context *ctx) {
    Holder *e = EnumeratorOfThis(ctx);
    if (!e) return duk_error(ctx, DUK_ERR_TYPE_ERROR, "not an Enumerator");
    HRESULT hr = S_OK;
    if (duk_get_current_magic(ctx) == 1 && e->enumerator) hr = e->enumerator->Reset();
    if (SUCCEEDED(hr)) hr = Fetch(e);
    if (FAILED(hr)) {
        PushFailure(ctx, FailureOf(hr));
        return duk_throw(ctx);
    }
    return 0;
}

// --------------------------------------------------------------------- ByRef

duk_ret_t ByRefCtor(duk_context *ctx) {
    if (!duk_is_constructor_call(ctx)) return duk_error(ctx, DUK_ERR_TYPE_ERROR, "use new ByRef(value)");
    duk_push_this(ctx);
    duk_dup(ctx, 0);
    duk_put_prop_string(ctx, -2, "value");
    duk_push_true(ctx);
    duk_put_prop_string(ctx, -2, kByRef);
    return 0;
}

// VBArray(a) hands back the array it is given, as arrays from COM already are VBArrays.
duk_ret_t VBArrayCtor(duk_context *ctx) {
    duk_get_prop_string(ctx, 0, kPtr);
    auto *h = static_cast<Holder *>(duk_get_pointer(ctx, -1));
    duk_pop(ctx);
    if (!h || h->kind != Holder::Kind::Array) return duk_error(ctx, DUK_ERR_TYPE_ERROR, "VBArray expects a safe array");
    duk_dup(ctx, 0);
    return 1;
}

// ------------------------------------------------------------------- WScript

std::string JoinedText(duk_context *ctx) {
    std::string line;
    const duk_idx_t count = duk_get_top(ctx);
    for (duk_idx_t i = 0; i < count; ++i) {
        if (i) line += ' ';
        line += OutputText(ctx, i);
    }
    return line;
}

duk_ret_t Echo(duk_context *ctx) {
    std::string line = JoinedText(ctx);
    line += '\n';
    FILE *out = CurrentState()->config.out;
    std::fwrite(line.data(), 1, line.size(), out);
    return 0;
}

// magic: bit 0 stderr, bit 1 new line
duk_ret_t StreamWrite(duk_context *ctx) {
    const int magic = duk_get_current_magic(ctx);
    std::string text = JoinedText(ctx);
    if (magic & 2) text += '\n';
    FILE *out = (magic & 1) ? CurrentState()->config.err : CurrentState()->config.out;
    std::fwrite(text.data(), 1, text.size(), out);
    return 0;
}

duk_ret_t ArgumentItem(duk_context *ctx) {
    const auto &args = CurrentState()->config.arguments;
    const double index = duk_to_number(ctx, 0);
    if (!(index >= 0 && index < static_cast<double>(args.size()))) {
        PushFailure(ctx, FailureOf(DISP_E_BADINDEX));
        return duk_throw(ctx);
    }
    const std::string &arg = args[static_cast<size_t>(index)];
    PushString(ctx, ToUtf16(arg));
    return 1;
}

duk_ret_t ArgumentCount(duk_context *ctx) {
    duk_push_uint(ctx, static_cast<duk_uint_t>(CurrentState()->config.arguments.size()));
    return 1;
}

duk_ret_t Quit(duk_context *ctx) {
    State *s = CurrentState();
    const int code = duk_is_undefined(ctx, 0) ? 0 : duk_to_int(ctx, 0);
    std::fflush(s->config.out);
    if (s->host->onQuit) s->host->onQuit(code);
    s->quitCode = code;
    duk_push_string(ctx, "WScript.Quit");
    return duk_throw(ctx);
}

duk_ret_t Sleep(duk_context *ctx) {
    const double ms = duk_to_number(ctx, 0);
    if (ms > 0) {
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(ms / 1000);
        ts.tv_nsec = static_cast<long>((ms - static_cast<double>(ts.tv_sec) * 1000) * 1e6);
        while (nanosleep(&ts, &ts) != 0) {
        }
    }
    return 0;
}

duk_ret_t CreateObject(duk_context *ctx) {
    if (!CreateAndPush(ctx, 0)) return duk_throw(ctx);
    return 1;
}

void PushStream(duk_context *ctx, int errStream) {
    duk_push_object(ctx);
    duk_push_c_function(ctx, StreamWrite, DUK_VARARGS);
    duk_set_magic(ctx, -1, errStream);
    duk_put_prop_string(ctx, -2, "Write");
    duk_push_c_function(ctx, StreamWrite, DUK_VARARGS);
    duk_set_magic(ctx, -1, errStream | 2);
    duk_put_prop_string(ctx, -2, "WriteLine");
}

void PushConstructor(duk_context *ctx, duk_c_function fn, duk_idx_t nargs, const duk_function_list_entry *methods) {
    duk_push_c_function(ctx, fn, nargs);
    duk_push_object(ctx);
    if (methods) duk_put_function_list(ctx, -1, methods);
    duk_put_prop_string(ctx, -2, "prototype");
}

}  // namespace

void InstallGlobals(duk_context *ctx, State *state) {
    duk_push_global_object(ctx);

    PushConstructor(ctx, ActiveXObjectCtor, 1, nullptr);
    duk_put_prop_string(ctx, -2, "ActiveXObject");

    const duk_function_list_entry enumerator[] = {{"atEnd", EnumeratorAtEnd, 0},
                                                  {"item", EnumeratorItem, 0},
                                                  {"moveNext", EnumeratorMove, 0},
                                                  {"moveFirst", EnumeratorMove, 0},
                                                  {nullptr, nullptr, 0}};
    PushConstructor(ctx, EnumeratorCtor, 1, enumerator);
    duk_get_prop_string(ctx, -1, "prototype");
    duk_get_prop_string(ctx, -1, "moveFirst");
    duk_set_magic(ctx, -1, 1);
    duk_pop_2(ctx);
    duk_put_prop_string(ctx, -2, "Enumerator");

    PushConstructor(ctx, ByRefCtor, 1, nullptr);
    duk_put_prop_string(ctx, -2, "ByRef");
    PushConstructor(ctx, VBArrayCtor, 1, nullptr);
    duk_put_prop_string(ctx, -2, "VBArray");

    duk_push_object(ctx);
    const duk_function_list_entry wscript[] = {{"Echo", Echo, DUK_VARARGS},
                                               {"Quit", Quit, 1},
                                               {"Sleep", Sleep, 1},
                                               {"CreateObject", CreateObject, 1},
                                               {nullptr, nullptr, 0}};
    duk_put_function_list(ctx, -1, wscript);
    PushStream(ctx, 0);
    duk_put_prop_string(ctx, -2, "StdOut");
    PushStream(ctx, 1);
    duk_put_prop_string(ctx, -2, "StdErr");
    duk_push_c_function(ctx, ArgumentItem, 1);
    duk_push_c_function(ctx, ArgumentItem, 1);
    duk_put_prop_string(ctx, -2, "Item");
    duk_push_c_function(ctx, ArgumentCount, 0);
    duk_put_prop_string(ctx, -2, "Count");
    duk_push_string(ctx, "length");
    duk_push_uint(ctx, static_cast<duk_uint_t>(state->config.arguments.size()));
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE | DUK_DEFPROP_CLEAR_WRITABLE);
    duk_put_prop_string(ctx, -2, "Arguments");
    PushString(ctx, ToUtf16(state->config.scriptName));
    duk_put_prop_string(ctx, -2, "ScriptName");
    PushString(ctx, ToUtf16(state->config.scriptFullName));
    duk_put_prop_string(ctx, -2, "ScriptFullName");
    duk_push_string(ctx, "comscript");
    duk_put_prop_string(ctx, -2, "Name");
    duk_put_prop_string(ctx, -2, "WScript");

    duk_pop(ctx);
}

}  // namespace comscript
