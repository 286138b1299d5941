#include "bridge.h"

#include "text.h"

#include <cstdlib>
#include <cstring>

namespace comscript {
namespace {

void Fatal(void *, const char *message) {
    std::fprintf(stderr, "comscript: fatal engine error: %s\n", message ? message : "(unknown)");
    std::abort();
}

// Error numbers of the engine's own errors, in the script-error facility.
HRESULT NumberOfScriptError(const char *name) {
    if (!name) return static_cast<HRESULT>(0x800A139EUL);
    if (std::strcmp(name, "SyntaxError") == 0) return static_cast<HRESULT>(0x800A03EAUL);
    if (std::strcmp(name, "ReferenceError") == 0) return static_cast<HRESULT>(0x800A1391UL);
    if (std::strcmp(name, "TypeError") == 0) return static_cast<HRESULT>(0x800A138FUL);
    if (std::strcmp(name, "RangeError") == 0) return static_cast<HRESULT>(0x800A13A8UL);
    return static_cast<HRESULT>(0x800A139EUL);
}

// Reports the error value at the top of the stack.
void Report(duk_context *ctx, const State &s) {
    HRESULT number = static_cast<HRESULT>(0x800A139EUL);
    std::string description;
    long line = 0;
    if (duk_is_object(ctx, -1)) {
        duk_get_prop_string(ctx, -1, "number");
        const bool hasNumber = duk_is_number(ctx, -1);
        if (hasNumber) number = static_cast<HRESULT>(static_cast<int32_t>(static_cast<int64_t>(duk_get_number(ctx, -1))));
        duk_pop(ctx);
        if (!hasNumber) {
            duk_get_prop_string(ctx, -1, "name");
            number = NumberOfScriptError(duk_get_string(ctx, -1));
            duk_pop(ctx);
        }
        if (duk_get_prop_string(ctx, -1, "description") && duk_is_string(ctx, -1)) {
            description = EngineToUtf8(duk_get_string(ctx, -1));
        }
        duk_pop(ctx);
        if (description.empty()) {
            if (duk_get_prop_string(ctx, -1, "message") && duk_is_string(ctx, -1))
                description = EngineToUtf8(duk_get_string(ctx, -1));
            duk_pop(ctx);
        }
        // The engine's syntax errors end in " (line N)" or " (line N, end of input)".
        duk_get_prop_string(ctx, -1, "name");
        const bool syntax = duk_is_string(ctx, -1) && std::strcmp(duk_get_string(ctx, -1), "SyntaxError") == 0;
        duk_pop(ctx);
        const size_t at = description.rfind(" (line ");
        if (syntax && at != std::string::npos && description.back() == ')') description.erase(at);
        duk_get_prop_string(ctx, -1, "lineNumber");
        line = static_cast<long>(duk_get_int_default(ctx, -1, 0));
        duk_pop(ctx);
    }
    if (description.empty()) {
        duk_dup_top(ctx);
        description = EngineToUtf8(duk_safe_to_string(ctx, -1));
        duk_pop(ctx);
    }
    // The engine records lines but not columns: the column is the line's first.
    std::fprintf(s.config.err, "%s(%ld, 1): error 0x%08X: %s\n", s.config.scriptName.c_str(), line,
                 static_cast<unsigned>(number), description.c_str());
}

}  // namespace

Host::Host(Config config) : state_(std::make_unique<State>()) {
    state_->config = std::move(config);
    state_->host = this;
}

Host::~Host() {
    ReleaseAll();
    if (state_->ctx) {
        State *previous = CurrentState();
        SetCurrentState(state_.get());
        duk_destroy_heap(state_->ctx);  // runs the finalizers, which free the holders
        state_->ctx = nullptr;
        SetCurrentState(previous == state_.get() ? nullptr : previous);
    }
    while (Holder *h = state_->holders) {
        state_->Unlink(h);
        delete h;
    }
}

bool Host::Start() {
    state_->ctx = duk_create_heap(nullptr, nullptr, nullptr, nullptr, Fatal);
    if (!state_->ctx) return false;
    SetCurrentState(state_.get());
    InstallBridge(state_->ctx);
    InstallGlobals(state_->ctx, state_.get());
    return true;
}

bool Host::AddObject(const char *name, IDispatch *object) {
    duk_context *ctx = state_->ctx;
    SetCurrentState(state_.get());
    duk_push_global_object(ctx);
    if (FAILED(PushObject(ctx, object, object))) {
        duk_pop(ctx);
        return false;
    }
    duk_put_prop_string(ctx, -2, name);
    duk_pop(ctx);
    return true;
}

int Host::Run(std::string_view source) {
    duk_context *ctx = state_->ctx;
    SetCurrentState(state_.get());
    std::string text(source);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    if (text.compare(0, 2, "#!") == 0) text.replace(0, 2, "//");  // keeps the line numbers
    duk_push_lstring(ctx, text.data(), text.size());
    duk_push_string(ctx, state_->config.scriptName.c_str());
    if (duk_pcompile(ctx, 0) != 0) {
        Report(ctx, *state_);
        duk_pop(ctx);
        return 1;
    }
    int status = 0;
    if (duk_pcall(ctx, 0) != DUK_EXEC_SUCCESS) {
        if (state_->quitCode >= 0) {
            status = state_->quitCode;
        } else {
            Report(ctx, *state_);
            status = 1;
        }
    }
    duk_pop(ctx);
    std::fflush(state_->config.out);
    return status;
}

void Host::ReleaseAll() {
    for (Holder *h = state_->holders; h; h = h->next) h->Drop();
    state_->types.clear();
    state_->released = true;
}

const std::vector<std::u16string> &Host::Libraries() const { return state_->libraries; }

int FreeLibrariesAndCheck(const std::vector<std::u16string> &libraries, FILE *err) {
    CoFreeUnusedLibraries();
    int refused = 0;
    using CanUnloadNow = HRESULT(STDAPICALLTYPE *)();
    for (const std::u16string &library : libraries) {
        HMODULE module = GetModuleHandleW(reinterpret_cast<LPCWSTR>(library.c_str()));
        if (!module) continue;
        auto canUnload = reinterpret_cast<CanUnloadNow>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
        if (canUnload && canUnload() != S_OK) {
            std::fprintf(err, "comscript: %s is still in use at the end of the script (DllCanUnloadNow refused)\n",
                         ToUtf8(library).c_str());
            ++refused;
        }
    }
    return refused;
}

}  // namespace comscript
