#include "command.h"

#include "collections.h"

namespace comhost::ado {

namespace {

// Answered only by this host layer's Parameter objects, so that the
// Parameters collection can tell its own parameters from foreign objects.
constexpr GUID kIID_ParameterImplementation = {
    0x6B1E6C1D, 0x1A4F, 0x4C55, {0x9C, 0x0E, 0x5D, 0x2B, 0x7A, 0x31, 0x88, 0x40}};

bool IsMissing(const VARIANT& v) noexcept {
    return V_VT(&v) == VT_EMPTY || (V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND);
}

bool IsDirection(LONG direction) noexcept {
    return direction == adParamUnknown || direction == adParamInput || direction == adParamOutput ||
           direction == adParamInputOutput || direction == adParamReturnValue;
}

}  // namespace

// ------------------------------------------------------------------ Parameter

ParameterObject::ParameterObject() noexcept = default;

ParameterObject* ParameterObject::New() noexcept { return new (std::nothrow) ParameterObject(); }

HRESULT ParameterObject::Create(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    ParameterObject* object = New();
    if (!object)
        return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

ParameterObject* ParameterObject::From(IUnknown* unknown) noexcept {
    if (!unknown)
        return nullptr;
    void* p = nullptr;
    if (FAILED(unknown->QueryInterface(kIID_ParameterImplementation, &p)) || !p)
        return nullptr;
    auto* parameter = static_cast<ParameterObject*>(p);
    parameter->Release();   // the caller holds the object alive already
    return parameter;
}

bool ParameterObject::AnswersInterface(REFIID riid) const noexcept {
    return SameGuid(riid, kIID_Parameter) || SameGuid(riid, kIID_ADO);
}

HRESULT STDMETHODCALLTYPE ParameterObject::QueryInterface(REFIID riid, void** ppv) {
    if (ppv && SameGuid(riid, kIID_ParameterImplementation)) {
        *ppv = this;
        AddRef();
        return S_OK;
    }
    return DispatchObject::QueryInterface(riid, ppv);
}

HRESULT ParameterObject::Initialize(BSTR name, DataTypeEnum type, ParameterDirectionEnum direction, LONG size,
                                    const VARIANT& value) {
    if (!IsDataType(type) || !IsDirection(direction) || size < 0)
        return kErrInvalidArgument;
    m_name.assign(View(name));
    m_type = type;
    m_direction = direction;
    m_size = size;
    if (IsNumericType(type)) {
        m_precision = DefaultPrecision(type);
        m_scale = DefaultScale(type);
    }
    if (IsMissing(value))
        return S_OK;
    return CoerceParameterValue(type, value, m_value);
}

HRESULT STDMETHODCALLTYPE ParameterObject::get_Properties(Properties** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    return Run(kIID_ADO, [&] { return PropertiesObject::New(ppvObject); });
}

HRESULT STDMETHODCALLTYPE ParameterObject::get_Name(BSTR* pbstr) {
    if (!pbstr)
        return E_POINTER;
    *pbstr = nullptr;
    return Run(kIID_Parameter, [&]() -> HRESULT {
        *pbstr = AllocBstr(m_name);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ParameterObject::put_Name(BSTR bstr) {
    return Run(kIID_Parameter, [&]() -> HRESULT {
        // The name of a parameter in a collection is how it is found there.
        if (m_inCollection)
            return kErrIllegalOperation;
        m_name.assign(View(bstr));
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ParameterObject::get_Value(VARIANT* pvar) {
    if (!pvar)
        return E_POINTER;
    VariantInit(pvar);
    return Run(kIID_Parameter, [&] { return VariantCopy(pvar, m_value.get()); });
}

HRESULT STDMETHODCALLTYPE ParameterObject::put_Value(VARIANT val) {
    return Run(kIID_Parameter, [&]() -> HRESULT {
        Variant converted;
        const HRESULT hr = CoerceParameterValue(m_type, val, converted);
        if (FAILED(hr))
            return hr;
        m_value = std::move(converted);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ParameterObject::get_Type(DataTypeEnum* psDataType) {
    if (!psDataType)
        return E_POINTER;
    *psDataType = m_type;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParameterObject::put_Type(DataTypeEnum sDataType) {
    return Run(kIID_Parameter, [&]() -> HRESULT {
        if (!IsDataType(sDataType))
            return kErrInvalidArgument;
        // The value already held must be one the new type can hold.
        Variant converted;
        const HRESULT hr = CoerceParameterValue(sDataType, *m_value, converted);
        if (FAILED(hr))
            return hr;
        m_value = std::move(converted);
        m_type = sDataType;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ParameterObject::put_Direction(ParameterDirectionEnum lParmDirection) {
    return Run(kIID_Parameter, [&]() -> HRESULT {
        if (!IsDirection(lParmDirection))
            return kErrInvalidArgument;
        m_direction = lParmDirection;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ParameterObject::get_Direction(ParameterDirectionEnum* plParmDirection) {
    if (!plParmDirection)
        return E_POINTER;
    *plParmDirection = m_direction;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParameterObject::put_Precision(BYTE bPrecision) {
    m_precision = bPrecision;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParameterObject::get_Precision(BYTE* pbPrecision) {
    if (!pbPrecision)
        return E_POINTER;
    *pbPrecision = m_precision;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParameterObject::put_NumericScale(BYTE bScale) {
    m_scale = bScale;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParameterObject::get_NumericScale(BYTE* pbScale) {
    if (!pbScale)
        return E_POINTER;
    *pbScale = m_scale;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParameterObject::put_Size(LONG l) {
    return Run(kIID_Parameter, [&]() -> HRESULT {
        if (l < 0)
            return kErrInvalidArgument;
        m_size = l;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ParameterObject::get_Size(LONG* pl) {
    if (!pl)
        return E_POINTER;
    *pl = m_size;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParameterObject::AppendChunk(VARIANT Val) {
    return Run(kIID_Parameter, [&]() -> HRESULT {
        // Chunks build up long text and binary values.
        if ((m_attributes & adParamLong) == 0)
            return kErrIllegalOperation;
        Variant chunk;
        HRESULT hr = chunk.CopyIndFrom(Val);
        if (FAILED(hr))
            return hr == E_OUTOFMEMORY ? hr : kErrDataConversion;
        if (IsBinaryType(m_type)) {
            Variant joined;
            hr = CoerceParameterValue(m_type, *chunk, joined);
            if (FAILED(hr))
                return hr;
            if (m_value.vt() != (VT_ARRAY | VT_UI1)) {
                m_value = std::move(joined);
                return S_OK;
            }
            LONG oldHi = -1, addHi = -1;
            SafeArrayGetUBound(V_ARRAY(m_value.get()), 1, &oldHi);
            SafeArrayGetUBound(V_ARRAY(joined.get()), 1, &addHi);
            const ULONG total = static_cast<ULONG>(oldHi + 1 + addHi + 1);
            SAFEARRAY* combined = SafeArrayCreateVector(VT_UI1, 0, total);
            if (!combined)
                return E_OUTOFMEMORY;
            unsigned char* target = nullptr;
            unsigned char* a = nullptr;
            unsigned char* b = nullptr;
            SafeArrayAccessData(combined, reinterpret_cast<void**>(&target));
            SafeArrayAccessData(V_ARRAY(m_value.get()), reinterpret_cast<void**>(&a));
            SafeArrayAccessData(V_ARRAY(joined.get()), reinterpret_cast<void**>(&b));
            for (LONG i = 0; i <= oldHi; ++i)
                *target++ = a[i];
            for (LONG i = 0; i <= addHi; ++i)
                *target++ = b[i];
            SafeArrayUnaccessData(V_ARRAY(joined.get()));
            SafeArrayUnaccessData(V_ARRAY(m_value.get()));
            SafeArrayUnaccessData(combined);
            m_value.Clear();
            V_VT(m_value.get()) = VT_ARRAY | VT_UI1;
            V_ARRAY(m_value.get()) = combined;
            return S_OK;
        }
        Variant text;
        hr = VariantChangeType(text.get(), chunk.get(), 0, VT_BSTR);
        if (FAILED(hr))
            return hr == E_OUTOFMEMORY ? hr : kErrDataConversion;
        std::u16string joined;
        if (m_value.vt() == VT_BSTR)
            joined.assign(View(V_BSTR(m_value.get())));
        joined += View(V_BSTR(text.get()));
        BSTR s = AllocBstr(joined);
        m_value.Clear();
        V_VT(m_value.get()) = VT_BSTR;
        V_BSTR(m_value.get()) = s;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ParameterObject::get_Attributes(LONG* plParmAttribs) {
    if (!plParmAttribs)
        return E_POINTER;
    *plParmAttribs = m_attributes;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParameterObject::put_Attributes(LONG lParmAttribs) {
    return Run(kIID_Parameter, [&]() -> HRESULT {
        if ((lParmAttribs & ~(adParamSigned | adParamNullable | adParamLong)) != 0)
            return kErrInvalidArgument;
        m_attributes = lParmAttribs;
        return S_OK;
    });
}

// ------------------------------------------------------------------ Parameters

ParametersObject* ParametersObject::New() noexcept { return new (std::nothrow) ParametersObject(); }

ParametersObject::~ParametersObject() {
    for (ParameterObject* p : m_items) {
        p->SetInCollection(false);
        p->Release();
    }
}

bool ParametersObject::AnswersInterface(REFIID riid) const noexcept {
    return SameGuid(riid, kIID_Parameters) || SameGuid(riid, kIID_DynaCollection) ||
           SameGuid(riid, kIID_Collection);
}

HRESULT ParametersObject::Find(const VARIANT& index, size_t& position) const {
    ItemIndex item;
    const HRESULT hr = ReadItemIndex(index, item);
    if (FAILED(hr))
        return hr;
    if (item.byName) {
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (SameName(m_items[i]->Name(), item.name)) {
                position = i;
                return S_OK;
            }
        }
        return kErrItemNotFound;
    }
    if (item.ordinal < 0 || static_cast<size_t>(item.ordinal) >= m_items.size())
        return kErrItemNotFound;
    position = static_cast<size_t>(item.ordinal);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParametersObject::get_Count(LONG* c) {
    if (!c)
        return E_POINTER;
    *c = static_cast<LONG>(m_items.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ParametersObject::_NewEnum(IUnknown** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    return Run(kIID_Collection, [&]() -> HRESULT {
        std::vector<Variant> items(m_items.size());
        for (size_t i = 0; i < m_items.size(); ++i) {
            V_VT(items[i].get()) = VT_DISPATCH;
            V_DISPATCH(items[i].get()) = m_items[i];
            m_items[i]->AddRef();
        }
        return NewEnumerator(std::move(items), ppvObject);
    });
}

HRESULT STDMETHODCALLTYPE ParametersObject::Refresh() { return S_OK; }

HRESULT STDMETHODCALLTYPE ParametersObject::Append(IDispatch* Object) {
    return Run(kIID_DynaCollection, [&]() -> HRESULT {
        if (!Object)
            return kErrInvalidArgument;
        ParameterObject* parameter = ParameterObject::From(Object);
        if (!parameter)
            return kErrInvalidArgument;
        if (parameter->InCollection())
            return kErrObjectInCollection;
        // A parameter must have a type, and a variable-length one a size.
        if (parameter->Type() == adEmpty ||
            ((IsCharacterType(parameter->Type()) || IsBinaryType(parameter->Type())) &&
             parameter->Type() != adBSTR && parameter->Size() <= 0))
            return kErrInvalidParamInfo;
        m_items.reserve(m_items.size() + 1);
        parameter->AddRef();
        parameter->SetInCollection(true);
        m_items.push_back(parameter);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ParametersObject::Delete(VARIANT Index) {
    return Run(kIID_DynaCollection, [&]() -> HRESULT {
        size_t position = 0;
        const HRESULT hr = Find(Index, position);
        if (FAILED(hr))
            return hr;
        ParameterObject* parameter = m_items[position];
        m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(position));
        parameter->SetInCollection(false);
        parameter->Release();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ParametersObject::get_Item(VARIANT Index, _Parameter** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    return Run(kIID_Parameters, [&]() -> HRESULT {
        size_t position = 0;
        const HRESULT hr = Find(Index, position);
        if (FAILED(hr))
            return hr;
        *ppvObject = m_items[position];
        m_items[position]->AddRef();
        return S_OK;
    });
}

// ------------------------------------------------------------------ Command

HRESULT CommandObject::Create(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    CommandObject* object = new (std::nothrow) CommandObject();
    if (!object)
        return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

bool CommandObject::AnswersInterface(REFIID riid) const noexcept {
    return SameGuid(riid, kIID_Command) || SameGuid(riid, kIID_Command25) || SameGuid(riid, kIID_Command15) ||
           SameGuid(riid, kIID_ADO);
}

HRESULT STDMETHODCALLTYPE CommandObject::get_Properties(Properties** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    return Run(kIID_ADO, [&] { return PropertiesObject::New(ppvObject); });
}

HRESULT STDMETHODCALLTYPE CommandObject::get_ActiveConnection(_Connection** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = m_connectionObject.get();
    if (*ppvObject)
        (*ppvObject)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandObject::putref_ActiveConnection(_Connection* pCon) {
    m_connectionObject = Ref<_Connection>::Share(pCon);
    m_connection.clear();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandObject::put_ActiveConnection(VARIANT vConn) {
    return Run(kIID_Command15, [&]() -> HRESULT {
        Variant v;
        HRESULT hr = v.CopyIndFrom(vConn);
        if (FAILED(hr))
            return hr == E_OUTOFMEMORY ? hr : kErrInvalidArgument;
        switch (v.vt()) {
        case VT_EMPTY: case VT_NULL:
            m_connection.clear();
            m_connectionObject.reset();
            return S_OK;
        case VT_BSTR:
            m_connection.assign(View(V_BSTR(v.get())));
            m_connectionObject.reset();
            return S_OK;
        case VT_DISPATCH: case VT_UNKNOWN: {
            if (!V_UNKNOWN(v.get())) {
                m_connection.clear();
                m_connectionObject.reset();
                return S_OK;
            }
            _Connection* connection = nullptr;
            const GUID iidConnection = MakeAdoGuid(0x00000550);
            if (FAILED(V_UNKNOWN(v.get())->QueryInterface(iidConnection, reinterpret_cast<void**>(&connection))))
                return kErrInvalidArgument;
            m_connectionObject = Ref<_Connection>::Adopt(connection);
            m_connection.clear();
            return S_OK;
        }
        default:
            return kErrInvalidArgument;
        }
    });
}

HRESULT STDMETHODCALLTYPE CommandObject::get_CommandText(BSTR* pbstr) {
    if (!pbstr)
        return E_POINTER;
    *pbstr = nullptr;
    return Run(kIID_Command15, [&]() -> HRESULT {
        *pbstr = AllocBstr(m_text);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CommandObject::put_CommandText(BSTR bstr) {
    return Run(kIID_Command15, [&]() -> HRESULT {
        m_text.assign(View(bstr));
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CommandObject::get_CommandTimeout(LONG* pl) {
    if (!pl)
        return E_POINTER;
    *pl = m_timeout;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandObject::put_CommandTimeout(LONG Timeout) {
    return Run(kIID_Command15, [&]() -> HRESULT {
        if (Timeout < 0)
            return kErrInvalidArgument;
        m_timeout = Timeout;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CommandObject::get_Prepared(VARIANT_BOOL* pfPrepared) {
    if (!pfPrepared)
        return E_POINTER;
    *pfPrepared = m_prepared ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandObject::put_Prepared(VARIANT_BOOL fPrepared) {
    m_prepared = fPrepared != VARIANT_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandObject::Execute(VARIANT* RecordsAffected, VARIANT*, LONG, _Recordset** ppirs) {
    if (!ppirs)
        return E_POINTER;
    *ppirs = nullptr;
    if (RecordsAffected)
        VariantInit(RecordsAffected);
    // Statements need a provider that runs them; none is available here.
    return Run(kIID_Command15, [] { return kErrInvalidConnection; });
}

HRESULT STDMETHODCALLTYPE CommandObject::CreateParameter(BSTR Name, DataTypeEnum Type,
                                                         ParameterDirectionEnum Direction, LONG Size, VARIANT Value,
                                                         _Parameter** ppiprm) {
    if (!ppiprm)
        return E_POINTER;
    *ppiprm = nullptr;
    return Run(kIID_Command15, [&]() -> HRESULT {
        ParameterObject* parameter = ParameterObject::New();
        if (!parameter)
            return E_OUTOFMEMORY;
        Ref<ParameterObject> owner = Ref<ParameterObject>::Adopt(parameter);
        const HRESULT hr = parameter->Initialize(Name, Type, Direction, Size, Value);
        if (FAILED(hr))
            return hr;
        // The new parameter is handed out, not appended to the collection.
        *ppiprm = owner.release();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CommandObject::get_Parameters(Parameters** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    return Run(kIID_Command15, [&]() -> HRESULT {
        if (!m_parameters) {
            ParametersObject* parameters = ParametersObject::New();
            if (!parameters)
                return E_OUTOFMEMORY;
            m_parameters = Ref<ParametersObject>::Adopt(parameters);
        }
        *ppvObject = m_parameters.get();
        m_parameters->AddRef();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CommandObject::put_CommandType(CommandTypeEnum lCmdType) {
    return Run(kIID_Command15, [&]() -> HRESULT {
        switch (lCmdType) {
        case adCmdUnspecified: case adCmdUnknown: case adCmdText: case adCmdTable: case adCmdStoredProc:
        case adCmdFile: case adCmdTableDirect:
            m_commandType = lCmdType;
            return S_OK;
        default:
            return kErrInvalidArgument;
        }
    });
}

HRESULT STDMETHODCALLTYPE CommandObject::get_CommandType(CommandTypeEnum* plCmdType) {
    if (!plCmdType)
        return E_POINTER;
    *plCmdType = m_commandType;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandObject::get_Name(BSTR* pbstrName) {
    if (!pbstrName)
        return E_POINTER;
    *pbstrName = nullptr;
    return Run(kIID_Command15, [&]() -> HRESULT {
        *pbstrName = AllocBstr(m_name);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CommandObject::put_Name(BSTR bstrName) {
    return Run(kIID_Command15, [&]() -> HRESULT {
        m_name.assign(View(bstrName));
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CommandObject::get_State(LONG* plObjState) {
    if (!plObjState)
        return E_POINTER;
    *plObjState = adStateClosed;   // never executing
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandObject::Cancel() { return S_OK; }

HRESULT STDMETHODCALLTYPE CommandObject::putref_CommandStream(IUnknown* pStream) {
    m_stream = Ref<IUnknown>::Share(pStream);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandObject::get_CommandStream(VARIANT* pvStream) {
    if (!pvStream)
        return E_POINTER;
    VariantInit(pvStream);
    if (m_stream) {
        V_VT(pvStream) = VT_UNKNOWN;
        V_UNKNOWN(pvStream) = m_stream.get();
        m_stream->AddRef();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandObject::put_Dialect(BSTR bstrDialect) {
    return Run(kIID_Command, [&]() -> HRESULT {
        std::u16string normalized;
        if (!NormalizeGuidText(View(bstrDialect), normalized))
            return kErrInvalidArgument;
        m_dialect = std::move(normalized);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CommandObject::get_Dialect(BSTR* pbstrDialect) {
    if (!pbstrDialect)
        return E_POINTER;
    *pbstrDialect = nullptr;
    return Run(kIID_Command, [&]() -> HRESULT {
        // DBGUID_DEFAULT: the provider's own dialect.
        *pbstrDialect = AllocBstr(m_dialect.empty() ? u"{C8B521FB-5CF3-11CE-ADE5-00AA0044773D}" : m_dialect);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CommandObject::put_NamedParameters(VARIANT_BOOL fNamedParameters) {
    m_namedParameters = fNamedParameters != VARIANT_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CommandObject::get_NamedParameters(VARIANT_BOOL* pfNamedParameters) {
    if (!pfNamedParameters)
        return E_POINTER;
    *pfNamedParameters = m_namedParameters ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

}  // namespace comhost::ado
