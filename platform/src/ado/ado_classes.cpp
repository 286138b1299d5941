#include "ado_classes.h"

#include "command.h"
#include "recordset.h"

namespace comhost::ado {

HRESULT CreateRecordset(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    return RecordsetObject::Create(outer, riid, ppv);
}

HRESULT CreateCommand(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    return CommandObject::Create(outer, riid, ppv);
}

HRESULT CreateParameter(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    return ParameterObject::Create(outer, riid, ppv);
}

}  // namespace comhost::ado
