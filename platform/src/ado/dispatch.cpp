// Type information of the ADO interfaces for the objects' IDispatch.

#include "ado_common.h"

#include <mutex>

namespace comhost::ado {
namespace {

// LIBID of ADODB 2.7, the built-in type library the interfaces are described in.
constexpr GUID kLibidAdodb = {0xEF53050B, 0x882E, 0x4776, {0xB6, 0x43, 0xED, 0xA4, 0x72, 0xE8, 0xE3, 0xF2}};

struct Loaded {
    GUID iid;
    ITypeInfo* info;
};

std::mutex g_lock;
Loaded g_loaded[32];  // the references are kept for the life of the process
size_t g_count = 0;

}  // namespace

ITypeInfo* AdoTypeInfo(REFIID iid) noexcept {
    std::lock_guard<std::mutex> guard(g_lock);
    for (size_t i = 0; i < g_count; ++i) {
        if (SameGuid(g_loaded[i].iid, iid))
            return g_loaded[i].info;
    }
    if (g_count == sizeof(g_loaded) / sizeof(g_loaded[0]))
        return nullptr;
    ITypeLib* rawLib = nullptr;
    if (FAILED(LoadRegTypeLib(kLibidAdodb, 2, 7, LOCALE_NEUTRAL, &rawLib)) || !rawLib)
        return nullptr;
    Ref<ITypeLib> lib = Ref<ITypeLib>::Adopt(rawLib);
    ITypeInfo* rawInfo = nullptr;
    if (FAILED(lib->GetTypeInfoOfGuid(iid, &rawInfo)) || !rawInfo)
        return nullptr;
    g_loaded[g_count++] = Loaded{iid, rawInfo};
    return rawInfo;
}

}  // namespace comhost::ado
