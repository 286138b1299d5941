// comscript's engine: a JavaScript context whose scripts reach COM objects
// through IDispatch, as Windows script hosts let them.
//
// Values cross as VARIANTs (see bridge.cpp for the table); every COM object a
// script holds is wrapped in a proxy whose member reads, writes and calls
// become GetIDsOfNames and Invoke.  The host keeps a list of everything the
// script's objects hold, so that all of it can be released when the script
// ends, reachable or not, before COM is shut down.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace comscript {

class Host {
public:
    struct Config {
        FILE *out = stdout;
        FILE *err = stderr;
        std::string scriptName;      // as reported in error messages and WScript.ScriptName
        std::string scriptFullName;  // WScript.ScriptFullName
        std::vector<std::string> arguments;
    };

    explicit Host(Config config);
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // Creates the engine and the global objects; false when memory runs out.
    bool Start();

    // Makes `object` a global variable of the script (one reference is taken).
    bool AddObject(const char *name, IDispatch *object);

    // Compiles and runs a script.  Returns 0 when it ran to its end, 1 when
    // it failed to compile or threw (reported on the error stream as
    // "NAME(LINE, COL): error 0xXXXXXXXX: description").
    int Run(std::string_view source);

    // Releases every COM reference the script's objects hold; the objects
    // stay, answering any further use with an error.
    void ReleaseAll();

    // The libraries (InprocServer32 values) of the classes scripts created.
    const std::vector<std::u16string> &Libraries() const;

    // Called by WScript.Quit(code); when unset, Quit ends the script with
    // that status as if it had run to its end.
    std::function<void(int)> onQuit;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// CoFreeUnusedLibraries, then asks each library still loaded whether it can
// be unloaded and names those that refuse on `err`.  Returns the number of
// libraries that refused.
int FreeLibrariesAndCheck(const std::vector<std::u16string> &libraries, FILE *err);

// The system's message for an HRESULT, or an empty string.
std::u16string MessageOf(HRESULT hr);

}  // namespace comscript
