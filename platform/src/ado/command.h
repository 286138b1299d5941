// The Command object with its Parameters collection, and the Parameter
// object.  Commands describe a statement and its parameters; without a
// provider that executes statements, Execute reports that the command has no
// usable connection.
#pragma once

#include "data_types.h"

#include <vector>

namespace comhost::ado {

class ParameterObject final : public DispatchObject<ParameterObject, _Parameter> {
public:
    static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) noexcept;
    static ParameterObject* New() noexcept;
    // The implementation behind a _Parameter of this host layer, or null for
    // any other object.  Adds no reference.
    static ParameterObject* From(IUnknown* unknown) noexcept;

    bool AnswersInterface(REFIID riid) const noexcept;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;

    const std::u16string& Name() const noexcept { return m_name; }
    DataTypeEnum Type() const noexcept { return m_type; }
    LONG Size() const noexcept { return m_size; }
    // Sets the properties CreateParameter gives; the value is converted.
    HRESULT Initialize(BSTR name, DataTypeEnum type, ParameterDirectionEnum direction, LONG size,
                       const VARIANT& value);
    bool InCollection() const noexcept { return m_inCollection; }
    void SetInCollection(bool in) noexcept { m_inCollection = in; }

    // _ADO
    HRESULT STDMETHODCALLTYPE get_Properties(Properties** ppvObject) override;
    // _Parameter
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* pbstr) override;
    HRESULT STDMETHODCALLTYPE put_Name(BSTR bstr) override;
    HRESULT STDMETHODCALLTYPE get_Value(VARIANT* pvar) override;
    HRESULT STDMETHODCALLTYPE put_Value(VARIANT val) override;
    HRESULT STDMETHODCALLTYPE get_Type(DataTypeEnum* psDataType) override;
    HRESULT STDMETHODCALLTYPE put_Type(DataTypeEnum sDataType) override;
    HRESULT STDMETHODCALLTYPE put_Direction(ParameterDirectionEnum lParmDirection) override;
    HRESULT STDMETHODCALLTYPE get_Direction(ParameterDirectionEnum* plParmDirection) override;
    HRESULT STDMETHODCALLTYPE put_Precision(BYTE bPrecision) override;
    HRESULT STDMETHODCALLTYPE get_Precision(BYTE* pbPrecision) override;
    HRESULT STDMETHODCALLTYPE put_NumericScale(BYTE bScale) override;
    HRESULT STDMETHODCALLTYPE get_NumericScale(BYTE* pbScale) override;
    HRESULT STDMETHODCALLTYPE put_Size(LONG l) override;
    HRESULT STDMETHODCALLTYPE get_Size(LONG* pl) override;
    HRESULT STDMETHODCALLTYPE AppendChunk(VARIANT Val) override;
    HRESULT STDMETHODCALLTYPE get_Attributes(LONG* plParmAttribs) override;
    HRESULT STDMETHODCALLTYPE put_Attributes(LONG lParmAttribs) override;

private:
    friend class DispatchObject<ParameterObject, _Parameter>;
    ParameterObject() noexcept;
    ~ParameterObject() override = default;

    template <class Body>
    HRESULT Run(const GUID& iid, Body&& body) noexcept {
        const HRESULT hr = Guarded(body);
        return FAILED(hr) ? ReportError(hr, iid, ErrorSource::Parameter) : hr;
    }

    std::u16string m_name;
    Variant m_value;
    DataTypeEnum m_type = adEmpty;
    ParameterDirectionEnum m_direction = adParamInput;
    LONG m_size = 0;
    BYTE m_precision = 0;
    BYTE m_scale = 0;
    LONG m_attributes = adParamSigned;
    bool m_inCollection = false;
};

class ParametersObject final : public DispatchObject<ParametersObject, Parameters> {
public:
    static ParametersObject* New() noexcept;

    bool AnswersInterface(REFIID riid) const noexcept;

    // _Collection
    HRESULT STDMETHODCALLTYPE get_Count(LONG* c) override;
    HRESULT STDMETHODCALLTYPE _NewEnum(IUnknown** ppvObject) override;
    HRESULT STDMETHODCALLTYPE Refresh() override;
    // _DynaCollection
    HRESULT STDMETHODCALLTYPE Append(IDispatch* Object) override;
    HRESULT STDMETHODCALLTYPE Delete(VARIANT Index) override;
    // Parameters
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT Index, _Parameter** ppvObject) override;

private:
    friend class DispatchObject<ParametersObject, Parameters>;
    ParametersObject() = default;
    ~ParametersObject() override;

    template <class Body>
    HRESULT Run(const GUID& iid, Body&& body) noexcept {
        const HRESULT hr = Guarded(body);
        return FAILED(hr) ? ReportError(hr, iid, ErrorSource::Parameters) : hr;
    }
    HRESULT Find(const VARIANT& index, size_t& position) const;

    std::vector<ParameterObject*> m_items;   // each holds one reference
};

class CommandObject final : public DispatchObject<CommandObject, _Command> {
public:
    static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) noexcept;

    bool AnswersInterface(REFIID riid) const noexcept;

    // _ADO
    HRESULT STDMETHODCALLTYPE get_Properties(Properties** ppvObject) override;
    // Command15
    HRESULT STDMETHODCALLTYPE get_ActiveConnection(_Connection** ppvObject) override;
    HRESULT STDMETHODCALLTYPE putref_ActiveConnection(_Connection* pCon) override;
    HRESULT STDMETHODCALLTYPE put_ActiveConnection(VARIANT vConn) override;
    HRESULT STDMETHODCALLTYPE get_CommandText(BSTR* pbstr) override;
    HRESULT STDMETHODCALLTYPE put_CommandText(BSTR bstr) override;
    HRESULT STDMETHODCALLTYPE get_CommandTimeout(LONG* pl) override;
    HRESULT STDMETHODCALLTYPE put_CommandTimeout(LONG Timeout) override;
    HRESULT STDMETHODCALLTYPE get_Prepared(VARIANT_BOOL* pfPrepared) override;
    HRESULT STDMETHODCALLTYPE put_Prepared(VARIANT_BOOL fPrepared) override;
    HRESULT STDMETHODCALLTYPE Execute(VARIANT* RecordsAffected, VARIANT* Parameters, LONG Options,
                                      _Recordset** ppirs) override;
    HRESULT STDMETHODCALLTYPE CreateParameter(BSTR Name, DataTypeEnum Type, ParameterDirectionEnum Direction,
                                              LONG Size, VARIANT Value, _Parameter** ppiprm) override;
    HRESULT STDMETHODCALLTYPE get_Parameters(Parameters** ppvObject) override;
    HRESULT STDMETHODCALLTYPE put_CommandType(CommandTypeEnum lCmdType) override;
    HRESULT STDMETHODCALLTYPE get_CommandType(CommandTypeEnum* plCmdType) override;
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* pbstrName) override;
    HRESULT STDMETHODCALLTYPE put_Name(BSTR bstrName) override;
    // Command25
    HRESULT STDMETHODCALLTYPE get_State(LONG* plObjState) override;
    HRESULT STDMETHODCALLTYPE Cancel() override;
    // _Command
    HRESULT STDMETHODCALLTYPE putref_CommandStream(IUnknown* pStream) override;
    HRESULT STDMETHODCALLTYPE get_CommandStream(VARIANT* pvStream) override;
    HRESULT STDMETHODCALLTYPE put_Dialect(BSTR bstrDialect) override;
    HRESULT STDMETHODCALLTYPE get_Dialect(BSTR* pbstrDialect) override;
    HRESULT STDMETHODCALLTYPE put_NamedParameters(VARIANT_BOOL fNamedParameters) override;
    HRESULT STDMETHODCALLTYPE get_NamedParameters(VARIANT_BOOL* pfNamedParameters) override;

private:
    friend class DispatchObject<CommandObject, _Command>;
    CommandObject() = default;
    ~CommandObject() override = default;

    template <class Body>
    HRESULT Run(const GUID& iid, Body&& body) noexcept {
        const HRESULT hr = Guarded(body);
        return FAILED(hr) ? ReportError(hr, iid, ErrorSource::Command) : hr;
    }

    Ref<ParametersObject> m_parameters;   // made on first use
    Ref<_Connection> m_connectionObject;
    std::u16string m_connection;
    std::u16string m_text;
    std::u16string m_name;
    std::u16string m_dialect;   // empty: the provider's default dialect
    Ref<IUnknown> m_stream;
    LONG m_timeout = 30;
    CommandTypeEnum m_commandType = adCmdUnknown;
    bool m_prepared = false;
    bool m_namedParameters = false;
};

}  // namespace comhost::ado
