// Internals shared by the parts of the script host.
//
// The engine reports its errors with longjmp, which skips C++ destructors.
// Every C function here therefore does its COM work in an inner scope that
// leaves a result or an Error object on the value stack and says whether it
// failed; only after that scope has closed does the function throw.
#pragma once

#include "com_util.h"
#include "script_host.h"

#include <duktape.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace comscript {

// What the type information says about one DISPID.
struct MemberKind {
    bool method = false;
    bool get = false;
    bool put = false;
    bool putRef = false;
    short getRequired = 0;  // parameters a property get cannot do without
};

struct Member {
    DISPID id = DISPID_UNKNOWN;
    void *function = nullptr;  // the engine's member function for it, once made
    bool described = false;  // kind below comes from type information
    MemberKind kind;
};

// Names and member kinds of one interface, shared by all its objects.
struct TypeCache {
    std::unordered_map<DISPID, MemberKind> kinds;
    std::unordered_map<std::string, Member> byName;  // by the name as the script spells it
};

// Something a script object owns that must be given back: an object's
// reference, an enumerator, an array.
struct Holder {
    enum class Kind { Object, Enumerator, Array };
    explicit Holder(Kind k) : kind(k) { VariantInit(&current); }
    ~Holder() { Drop(); }
    Holder(const Holder &) = delete;
    Holder &operator=(const Holder &) = delete;

    // Gives back what is held; the holder stays, empty.
    void Drop() {
        if (IDispatch *d = disp) {
            disp = nullptr;
            d->Release();
        }
        if (IUnknown *u = unk) {
            unk = nullptr;
            u->Release();
        }
        if (IEnumVARIANT *e = enumerator) {
            enumerator = nullptr;
            e->Release();
        }
        VariantClear(&current);
        if (SAFEARRAY *a = array) {
            array = nullptr;
            SafeArrayDestroy(a);
        }
    }

    Kind kind;
    Holder *prev = nullptr;
    Holder *next = nullptr;
    IDispatch *disp = nullptr;  // Object: the object's IDispatch, when it has one
    IUnknown *unk = nullptr;    // Object without IDispatch
    TypeCache *type = nullptr;  // Object: shared name cache, null without type information
    std::unordered_map<std::string, Member> ownNames;  // Object without type information
    IEnumVARIANT *enumerator = nullptr;
    VARIANT current;  // Enumerator: the item at the cursor
    bool atEnd = true;
    SAFEARRAY *array = nullptr;
};

// A failure on its way to becoming a JS Error.
struct Failure {
    HRESULT hr = S_OK;
    std::u16string description;
    int argument = 0;  // 1-based position of the argument at fault, 0: none
};

struct Host::State {
    Host::Config config;
    Host *host = nullptr;
    duk_context *ctx = nullptr;
    Holder *holders = nullptr;  // every live holder
    std::unordered_map<std::string, std::unique_ptr<TypeCache>> types;  // by interface GUID bytes
    std::vector<std::u16string> libraries;
    bool released = false;
    int quitCode = -1;

    Holder *NewHolder(Holder::Kind kind);
    void Unlink(Holder *h);
};

using State = Host::State;
State *CurrentState();  // the state of the running host
void SetCurrentState(State *s);

// The Error object for a failure, pushed on the stack.
void PushFailure(duk_context *ctx, const Failure &f);
// A failure of `hr` described from the thread's error information or the
// system's message.
Failure FailureOf(HRESULT hr);

// Converts the value at idx to a VARIANT (out must be empty); fails with
// DISP_E_TYPEMISMATCH for values that have no VARIANT form.
HRESULT JsToVariant(duk_context *ctx, duk_idx_t idx, VARIANT *out);
// Pushes the JS value of a VARIANT; fails (pushing nothing) for types that
// have no JS form.
HRESULT PushVariant(duk_context *ctx, const VARIANT *v);

// Pushes a proxy for an object (a reference is taken).  `disp` may be null
// when the object has only IUnknown.
HRESULT PushObject(duk_context *ctx, IUnknown *unk, IDispatch *disp);
// The holder of a wrapped object at idx, or null.
Holder *ObjectAt(duk_context *ctx, duk_idx_t idx);

// Invokes a member with the arguments at [first, first + count) (ByRef
// holders by reference, read back after the call); `result` may be null.
HRESULT InvokeMember(duk_context *ctx, Holder *h, DISPID id, WORD flags, duk_idx_t first, duk_idx_t count,
                     VARIANT *result, Failure &f);

// Invokes a member with the arguments at [first, first + count) and pushes
// the result, or pushes an Error and returns false.
bool InvokeAndPush(duk_context *ctx, Holder *h, DISPID id, WORD flags, duk_idx_t first, duk_idx_t count);

// Pushes the object's default value (DISPID_VALUE) when it is a plain value;
// otherwise pushes nothing and returns false.
bool PushDefaultValue(duk_context *ctx, Holder *h);

// Installs the global objects: ActiveXObject, Enumerator, VBArray, ByRef, WScript.
void InstallGlobals(duk_context *ctx, State *state);
// Creates the proxy handler and the shared functions the wrappers use.
void InstallBridge(duk_context *ctx);

// A string of the engine as UTF-16, or empty when the value is not a string.
std::u16string StringAt(duk_context *ctx, duk_idx_t idx);
void PushString(duk_context *ctx, std::u16string_view text);

// Text of any value for output (wrapped objects by their default value).
std::string OutputText(duk_context *ctx, duk_idx_t idx);

#define COMSCRIPT_HIDDEN(name) DUK_HIDDEN_SYMBOL(name)

}  // namespace comscript
