// The classes of the ADO objects as the COM runtime creates them.
#pragma once

#include <objbase.h>

namespace comhost::ado {

// Each creates one new object and asks it for `riid`; an outer unknown is
// refused with CLASS_E_NOAGGREGATION, as ADO's classes refuse aggregation.
HRESULT CreateRecordset(IUnknown* outer, REFIID riid, void** ppv) noexcept;
HRESULT CreateCommand(IUnknown* outer, REFIID riid, void** ppv) noexcept;
HRESULT CreateParameter(IUnknown* outer, REFIID riid, void** ppv) noexcept;

}  // namespace comhost::ado
