// A recordset that forwards to a real one but lets a test script the row
// mover's view of it: the EOF/BOF flags it reports, moves that fail, and
// whether it reports errors through ISupportErrorInfo.
#pragma once

#include "ado_fixture.h"

#include <functional>

namespace nuv::test {

class ScriptedRecordset : public Recordset15, public ISupportErrorInfo {
public:
    explicit ScriptedRecordset(Recordset15* inner) : m_inner(inner) { m_inner->AddRef(); }
    virtual ~ScriptedRecordset() { m_inner->Release(); }

    // What the test controls.
    std::function<VARIANT_BOOL()> eof;        // flag reported by get_EOF (default: the inner's)
    std::function<VARIANT_BOOL()> bof;        // flag reported by get_BOF (default: the inner's)
    HRESULT failMoves = S_OK;                 // MoveNext/MovePrevious fail with this when set
    bool reportsErrors = true;                // answers ISupportErrorInfo for Recordset15
    std::function<HRESULT(VARIANT*)> getRows; // what GetRows hands back (default: the inner's)
    int eofReads = 0, bofReads = 0, nextCalls = 0, previousCalls = 0;

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (InlineIsEqualGUID(iid, IID_IUnknown) || InlineIsEqualGUID(iid, IID_IDispatch) ||
            InlineIsEqualGUID(iid, kIID_Recordset15))
            *ppv = static_cast<Recordset15*>(this);
        else if (reportsErrors && InlineIsEqualGUID(iid, IID_ISupportErrorInfo))
            *ppv = static_cast<ISupportErrorInfo*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(++m_refs); }
    STDMETHOD_(ULONG, Release)() override {
        const LONG l = --m_refs;
        if (l == 0)
            delete this;
        return static_cast<ULONG>(l);
    }
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID iid) override {
        return InlineIsEqualGUID(iid, kIID_Recordset15) ? S_OK : S_FALSE;
    }

    STDMETHOD(get_EOF)(VARIANT_BOOL* pb) override {
        ++eofReads;
        if (eof) {
            *pb = eof();
            return S_OK;
        }
        return m_inner->get_EOF(pb);
    }
    STDMETHOD(get_BOF)(VARIANT_BOOL* pb) override {
        ++bofReads;
        if (bof) {
            *pb = bof();
            return S_OK;
        }
        return m_inner->get_BOF(pb);
    }
    STDMETHOD(MoveNext)() override {
        ++nextCalls;
        return FAILED(failMoves) ? Fail() : m_inner->MoveNext();
    }
    STDMETHOD(MovePrevious)() override {
        ++previousCalls;
        return FAILED(failMoves) ? Fail() : m_inner->MovePrevious();
    }

    // IDispatch and the rest of Recordset15 go to the real recordset.
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override { return m_inner->GetTypeInfoCount(pctinfo); }
    STDMETHOD(GetTypeInfo)(UINT i, LCID lcid, ITypeInfo** pp) override { return m_inner->GetTypeInfo(i, lcid, pp); }
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* names, UINT n, LCID lcid, DISPID* ids) override {
        return m_inner->GetIDsOfNames(riid, names, n, lcid, ids);
    }
    STDMETHOD(Invoke)(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* argErr) override {
        return m_inner->Invoke(id, riid, lcid, flags, params, result, excep, argErr);
    }
    STDMETHOD(get_Properties)(Properties **ppvObject) override { return m_inner->get_Properties(ppvObject); }
    STDMETHOD(get_AbsolutePosition)(PositionEnum_Param *pl) override { return m_inner->get_AbsolutePosition(pl); }
    STDMETHOD(put_AbsolutePosition)(PositionEnum_Param Position) override { return m_inner->put_AbsolutePosition(Position); }
    STDMETHOD(putref_ActiveConnection)(IDispatch *pconn) override { return m_inner->putref_ActiveConnection(pconn); }
    STDMETHOD(put_ActiveConnection)(VARIANT vConn) override { return m_inner->put_ActiveConnection(vConn); }
    STDMETHOD(get_ActiveConnection)(VARIANT *pvar) override { return m_inner->get_ActiveConnection(pvar); }
    STDMETHOD(get_Bookmark)(VARIANT *pvBookmark) override { return m_inner->get_Bookmark(pvBookmark); }
    STDMETHOD(put_Bookmark)(VARIANT vBookmark) override { return m_inner->put_Bookmark(vBookmark); }
    STDMETHOD(get_CacheSize)(LONG *pl) override { return m_inner->get_CacheSize(pl); }
    STDMETHOD(put_CacheSize)(LONG CacheSize) override { return m_inner->put_CacheSize(CacheSize); }
    STDMETHOD(get_CursorType)(CursorTypeEnum *plCursorType) override { return m_inner->get_CursorType(plCursorType); }
    STDMETHOD(put_CursorType)(CursorTypeEnum lCursorType) override { return m_inner->put_CursorType(lCursorType); }
    STDMETHOD(get_Fields)(Fields **ppvObject) override { return m_inner->get_Fields(ppvObject); }
    STDMETHOD(get_LockType)(LockTypeEnum *plLockType) override { return m_inner->get_LockType(plLockType); }
    STDMETHOD(put_LockType)(LockTypeEnum lLockType) override { return m_inner->put_LockType(lLockType); }
    STDMETHOD(get_MaxRecords)(LONG *plMaxRecords) override { return m_inner->get_MaxRecords(plMaxRecords); }
    STDMETHOD(put_MaxRecords)(LONG lMaxRecords) override { return m_inner->put_MaxRecords(lMaxRecords); }
    STDMETHOD(get_RecordCount)(LONG *pl) override { return m_inner->get_RecordCount(pl); }
    STDMETHOD(putref_Source)(IDispatch *pcmd) override { return m_inner->putref_Source(pcmd); }
    STDMETHOD(put_Source)(BSTR bstrConn) override { return m_inner->put_Source(bstrConn); }
    STDMETHOD(get_Source)(VARIANT *pvSource) override { return m_inner->get_Source(pvSource); }
    STDMETHOD(AddNew)(VARIANT FieldList, VARIANT Values) override { return m_inner->AddNew(FieldList, Values); }
    STDMETHOD(CancelUpdate)() override { return m_inner->CancelUpdate(); }
    STDMETHOD(Close)() override { return m_inner->Close(); }
    STDMETHOD(Delete)(AffectEnum AffectRecords = adAffectCurrent) override { return m_inner->Delete(AffectRecords); }
    STDMETHOD(GetRows)(LONG Rows, VARIANT Start, VARIANT Fields, VARIANT *pvar) override {
        if (getRows)
            return getRows(pvar);
        return m_inner->GetRows(Rows, Start, Fields, pvar);
    }
    STDMETHOD(Move)(LONG NumRecords, VARIANT Start) override { return m_inner->Move(NumRecords, Start); }
    STDMETHOD(MoveFirst)() override { return m_inner->MoveFirst(); }
    STDMETHOD(MoveLast)() override { return m_inner->MoveLast(); }
    STDMETHOD(Open)(VARIANT Source, VARIANT ActiveConnection, CursorTypeEnum CursorType = adOpenUnspecified, LockTypeEnum LockType = adLockUnspecified, LONG Options = -1) override { return m_inner->Open(Source, ActiveConnection, CursorType, LockType, Options); }
    STDMETHOD(Requery)(LONG Options = -1) override { return m_inner->Requery(Options); }
    STDMETHOD(_xResync)(AffectEnum AffectRecords = adAffectAll) override { return m_inner->_xResync(AffectRecords); }
    STDMETHOD(Update)(VARIANT Fields, VARIANT Values) override { return m_inner->Update(Fields, Values); }
    STDMETHOD(get_AbsolutePage)(PositionEnum_Param *pl) override { return m_inner->get_AbsolutePage(pl); }
    STDMETHOD(put_AbsolutePage)(PositionEnum_Param Page) override { return m_inner->put_AbsolutePage(Page); }
    STDMETHOD(get_EditMode)(EditModeEnum *pl) override { return m_inner->get_EditMode(pl); }
    STDMETHOD(get_Filter)(VARIANT *Criteria) override { return m_inner->get_Filter(Criteria); }
    STDMETHOD(put_Filter)(VARIANT Criteria) override { return m_inner->put_Filter(Criteria); }
    STDMETHOD(get_PageCount)(LONG *pl) override { return m_inner->get_PageCount(pl); }
    STDMETHOD(get_PageSize)(LONG *pl) override { return m_inner->get_PageSize(pl); }
    STDMETHOD(put_PageSize)(LONG PageSize) override { return m_inner->put_PageSize(PageSize); }
    STDMETHOD(get_Sort)(BSTR *Criteria) override { return m_inner->get_Sort(Criteria); }
    STDMETHOD(put_Sort)(BSTR Criteria) override { return m_inner->put_Sort(Criteria); }
    STDMETHOD(get_Status)(LONG *pl) override { return m_inner->get_Status(pl); }
    STDMETHOD(get_State)(LONG *plObjState) override { return m_inner->get_State(plObjState); }
    STDMETHOD(_xClone)(_Recordset **ppvObject) override { return m_inner->_xClone(ppvObject); }
    STDMETHOD(UpdateBatch)(AffectEnum AffectRecords = adAffectAll) override { return m_inner->UpdateBatch(AffectRecords); }
    STDMETHOD(CancelBatch)(AffectEnum AffectRecords = adAffectAll) override { return m_inner->CancelBatch(AffectRecords); }
    STDMETHOD(get_CursorLocation)(CursorLocationEnum *plCursorLoc) override { return m_inner->get_CursorLocation(plCursorLoc); }
    STDMETHOD(put_CursorLocation)(CursorLocationEnum lCursorLoc) override { return m_inner->put_CursorLocation(lCursorLoc); }
    STDMETHOD(NextRecordset)(VARIANT *RecordsAffected, _Recordset **ppiRs) override { return m_inner->NextRecordset(RecordsAffected, ppiRs); }
    STDMETHOD(Supports)(CursorOptionEnum CursorOptions, VARIANT_BOOL *pb) override { return m_inner->Supports(CursorOptions, pb); }
    STDMETHOD(get_Collect)(VARIANT Index, VARIANT *pvar) override { return m_inner->get_Collect(Index, pvar); }
    STDMETHOD(put_Collect)(VARIANT Index, VARIANT value) override { return m_inner->put_Collect(Index, value); }
    STDMETHOD(get_MarshalOptions)(MarshalOptionsEnum *peMarshal) override { return m_inner->get_MarshalOptions(peMarshal); }
    STDMETHOD(put_MarshalOptions)(MarshalOptionsEnum eMarshal) override { return m_inner->put_MarshalOptions(eMarshal); }
    STDMETHOD(Find)(BSTR Criteria, LONG SkipRecords, SearchDirectionEnum SearchDirection, VARIANT Start) override { return m_inner->Find(Criteria, SkipRecords, SearchDirection, Start); }

private:
    // A failed move leaves error information on the thread, as ADO does.
    HRESULT Fail() {
        CComPtr<ICreateErrorInfo> create;
        if (SUCCEEDED(CreateErrorInfo(create.ReleaseAndGetAddressOf()))) {
            create->SetDescription(const_cast<LPOLESTR>(OLESTR("scripted move failure")));
            CComPtr<IErrorInfo> info;
            if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.ReleaseAndGetAddressOf()))))
                SetErrorInfo(0, info.Get());
        }
        return failMoves;
    }

    Recordset15* m_inner;
    LONG m_refs = 1;
};

}  // namespace nuv::test
