// The registrar: the replacement variables of one registry update and the
// running of "REGISTRY" script resources read out of a module file.
#pragma once

#include "registration/registry_script.h"

namespace nuv {

// One replacement variable handed to a registry update.  A list of them is
// ended by an entry with a null name.
struct ReplacementEntry {
    LPCOLESTR szKey;    // the variable's name
    LPCOLESTR szData;   // its value
};

// The registrar's table of operations.  Nothing calls the IUnknown part.
class IRegistrarBase : public IUnknown {
public:
    STDMETHOD(SetReplacement)(LPCOLESTR key, LPCOLESTR item) = 0;
    STDMETHOD(ResetReplacements)() = 0;
};

// Lives in the activation record of one registry update; never handed out,
// so its IUnknown operations count nothing.
class CRegObject : public IRegistrarBase {
public:
    CRegObject() noexcept = default;
    CRegObject(const CRegObject&) = delete;
    CRegObject& operator=(const CRegObject&) = delete;
    virtual ~CRegObject() { m_replacements.ResetReplacements(); }

    STDMETHOD(QueryInterface)(REFIID, void**) override { return E_NOTIMPL; }
    STDMETHOD_(ULONG, AddRef)() override { return 1; }
    STDMETHOD_(ULONG, Release)() override { return 0; }
    STDMETHOD(SetReplacement)(LPCOLESTR key, LPCOLESTR item) override {
        return m_replacements.SetReplacement(key, item);
    }
    STDMETHOD(ResetReplacements)() override { return m_replacements.ResetReplacements(); }

    const CReplacementMap& Replacements() const noexcept { return m_replacements; }

    // Script resources of a module file: by number (the low 16 bits of id)
    // or by name, in register or unregister mode.
    HRESULT RegisterScriptResource(LPCOLESTR moduleFile, UINT id) noexcept;
    HRESULT UnregisterScriptResource(LPCOLESTR moduleFile, UINT id) noexcept;
    HRESULT RegisterNamedScriptResource(LPCOLESTR moduleFile, LPCOLESTR idName) noexcept;
    HRESULT UnregisterNamedScriptResource(LPCOLESTR moduleFile, LPCOLESTR idName) noexcept;

    // Loads the module file as data, reads the resource (id is a numeric id
    // made with MAKEINTRESOURCEA or a multi-byte name) and runs it.
    HRESULT RunScriptFromModuleFile(LPCOLESTR moduleFile, LPCSTR id, LPCSTR type, BOOL bRegister) noexcept;

    // Runs script text held in memory (NUL-terminated).
    HRESULT RunScriptText(LPCSTR text, BOOL bRegister) noexcept;

private:
    HRESULT ScriptResource(LPCOLESTR moduleFile, UINT id, BOOL bRegister) noexcept;
    HRESULT NamedScriptResource(LPCOLESTR moduleFile, LPCOLESTR idName, BOOL bRegister) noexcept;

    CReplacementMap m_replacements;
};

// Copies a wide path with every apostrophe written twice into a buffer of
// `capacity` characters (at most capacity - 1 written, always terminated).
void EscapeModulePath(LPCOLESTR path, LPOLESTR out, int capacity) noexcept;

}  // namespace nuv
