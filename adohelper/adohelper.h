// CNUVADOHelper: the library's one creatable class.  It keeps no state: every
// method works only on the ADO objects and values that its caller hands in.
#pragma once

#include "adohelper/ado.h"
#include "adohelper_h.h"
#include "server/class_factory.h"
#include "server/dispatch.h"

namespace nuv {

class CNUVADOHelper
    : public CComObjectRootEx<CComSingleThreadModel>,
      public CComCoClass<CNUVADOHelper, &CLSID_NUVADOHelper>,
      public ISupportErrorInfo,
      public IDispatchImpl<IADOHelper, &IID_IADOHelper, &LIBID_ADO_HELPERLib, 1, 0> {
public:
    static const InterfaceMapEntry* _GetEntries() noexcept {
        static const InterfaceMapEntry entries[] = {
            {&IID_IADOHelper, &InterfacePart<CNUVADOHelper, IADOHelper>},
            {&IID_IDispatch, &InterfacePart<CNUVADOHelper, IADOHelper>},
            {&IID_ISupportErrorInfo, &InterfacePart<CNUVADOHelper, ISupportErrorInfo>},
            {nullptr, nullptr},
        };
        return entries;
    }

    // Class-table hooks.
    static HRESULT WINAPI UpdateRegistry(BOOL bRegister) noexcept;
    static const CategoryEntry* GetCategoryMap() noexcept { return nullptr; }
    static void WINAPI ObjectMain(bool) noexcept {}

    // ISupportErrorInfo
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;

    // IADOHelper, in the order of the interface's table of operations.
    STDMETHOD(SetFieldNumericScaleProperty)(Recordset15* rs, VARIANT Index, unsigned char Value,
                                            LONG StepsToMove) override;
    STDMETHOD(SetFieldPrecisionProperty)(Recordset15* rs, VARIANT Index, unsigned char Value,
                                         LONG StepsToMove) override;
    STDMETHOD(CommandCreateParameter)(Command15* command15, BSTR Name, int Type, int Direction, LONG Size,
                                      Recordset15* rs, VARIANT Index, LONG StepsToMove,
                                      _Parameter** ppiprm) override;
    STDMETHOD(RecordsetWrite)(Recordset15* recordset, VARIANT Index, VARIANT Value, LONG StepsToMove) override;
    STDMETHOD(RecordsetWriteFromField)(Recordset15* recordset, VARIANT Index, LONG StepsToMove,
                                       Recordset15* InputRecordset, VARIANT InputFieldIndex,
                                       LONG InputRsStepsToMove) override;
    STDMETHOD(RecordsetGetObjectFromField)(Recordset15* recordset, VARIANT Index, LONG StepsToMove,
                                           IUnknown** obj) override;
    STDMETHOD(RecordsetAddColumn)(Recordset15* recordset, BSTR Name, int Type, LONG DefinedSize,
                                  int Attrib) override;
    STDMETHOD(RecordsetDeleteColumn)(Recordset15* recordset, VARIANT Index) override;
    STDMETHOD(ParameterPutValueFromField)(_Parameter* parameter, Recordset15* InputRecordset,
                                          VARIANT InputFieldIndex, LONG InputRsStepsToMove) override;
    STDMETHOD(RecordsetLoadFromFile)(LONG FileIndex, Recordset15** recordset) override;

private:
    // Shared by SetFieldNumericScaleProperty, SetFieldPrecisionProperty and
    // RecordsetWrite: move, look the field up, do one operation on it.
    template <class Operation>
    HRESULT OnField(Recordset15* rs, const VARIANT& Index, LONG StepsToMove, Operation op) noexcept;
};

}  // namespace nuv
