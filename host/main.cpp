// comscript: runs a JavaScript file whose objects come from COM servers
// found through the registry.

#include "script_host.h"

#include <comhost/registry.h>

#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char kVersion[] = "comscript 1.0";

void Usage(FILE *out) {
    std::fputs(
        "usage: comscript [options] SCRIPT [ARGS...]\n"
        "       comscript [options] -e CODE [ARGS...]\n"
        "Runs a JavaScript file; new ActiveXObject(progid) and WScript.CreateObject(progid)\n"
        "create objects of the in-process servers the registry names.\n"
        "\n"
        "options:\n"
        "  --registry FILE  use this registry file (else $COMHOST_REGISTRY, else the default)\n"
        "  -e CODE          run CODE instead of a script file\n"
        "  --check-leaks    exit with status 3 when a library still holds objects at the end\n"
        "  --help           show this text\n"
        "  --version        show the version\n"
        "\n"
        "exit status: 0 done (or WScript.Quit's code), 1 the script failed, 2 bad usage,\n"
        "3 a library refused to unload (--check-leaks)\n",
        out);
}

struct Finish {
    bool checkLeaks = false;
    int Complete(comscript::Host &host, int status) {
        host.ReleaseAll();
        const int refused = comscript::FreeLibrariesAndCheck(host.Libraries(), stderr);
        CoUninitialize();
        std::fflush(stdout);
        return checkLeaks && refused ? 3 : status;
    }
};

}  // namespace

int main(int argc, char **argv) {
    std::string registry, code, script;
    bool haveCode = false;
    Finish finish;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if (arg == "--version") {
            std::puts(kVersion);
            return 0;
        } else if (arg == "--check-leaks") {
            finish.checkLeaks = true;
        } else if (arg == "--registry" && i + 1 < argc) {
            registry = argv[++i];
        } else if (arg == "-e" && i + 1 < argc) {
            code = argv[++i];
            haveCode = true;
            ++i;
            break;
        } else if (arg == "--") {
            ++i;
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "comscript: unknown option %s\n", arg.c_str());
            Usage(stderr);
            return 2;
        } else {
            break;
        }
    }
    comscript::Host::Config config;
    if (haveCode) {
        config.scriptName = "-e";
        config.scriptFullName = "-e";
    } else {
        if (i >= argc) {
            Usage(stderr);
            return 2;
        }
        script = argv[i++];
        std::ifstream in(script, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "comscript: cannot open %s\n", script.c_str());
            return 1;
        }
        std::ostringstream text;
        text << in.rdbuf();
        code = text.str();
        config.scriptName = script;
        char full[PATH_MAX];
        config.scriptFullName = realpath(script.c_str(), full) ? full : script;
    }
    for (; i < argc; ++i) config.arguments.push_back(argv[i]);

    if (!registry.empty() && !ComHostRegistryUseFile(registry.c_str())) {
        std::fprintf(stderr, "comscript: cannot open the registry %s\n", registry.c_str());
        return 1;
    }
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        std::fprintf(stderr, "comscript: CoInitializeEx failed: 0x%08X\n", static_cast<unsigned>(hr));
        return 1;
    }
    int status;
    {
        comscript::Host host(config);
        if (!host.Start()) {
            std::fprintf(stderr, "comscript: out of memory\n");
            CoUninitialize();
            return 1;
        }
        host.onQuit = [&host, &finish](int quitCode) { std::exit(finish.Complete(host, quitCode)); };
        status = host.Run(code);
        host.onQuit = nullptr;
        status = finish.Complete(host, status);
    }
    return status;
}
