// Error information of the ADO objects: ADO's own descriptions for its
// failure codes, handed to the caller's thread through SetErrorInfo.
#include "ado_common.h"

#include <cstring>

namespace comhost::ado {

namespace {

struct Description {
    HRESULT hr;
    const char16_t* text;
};

constexpr Description kDescriptions[] = {
    {kErrProviderFailed, u"Provider failed to perform the requested operation."},
    {kErrInvalidArgument,
     u"Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another."},
    {kErrOpeningFile, u"File could not be opened."},
    {kErrReadFile, u"File could not be read."},
    {kErrWriteFile, u"Write to file failed."},
    {kErrNoCurrentRecord,
     u"Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a "
     u"current record."},
    {kErrIllegalOperation, u"Operation is not allowed in this context."},
    {kErrFeatureNotAvailable, u"Object or provider is not capable of performing requested operation."},
    {kErrItemNotFound, u"Item cannot be found in the collection corresponding to the requested name or ordinal."},
    {kErrObjectInCollection, u"Object is already in collection. Cannot append."},
    {kErrObjectNotSet, u"Object is no longer valid."},
    {kErrDataConversion, u"Application uses a value of the wrong type for the current operation."},
    {kErrObjectClosed, u"Operation is not allowed when the object is closed."},
    {kErrObjectOpen, u"Operation is not allowed when the object is open."},
    {kErrProviderNotFound, u"Provider cannot be found. It may not be properly installed."},
    {kErrInvalidParamInfo,
     u"Parameter object is improperly defined. Inconsistent or incomplete information was provided."},
    {kErrInvalidConnection,
     u"The connection cannot be used to perform this operation. It is either closed or invalid in this context."},
    {kErrFileAlreadyExists, u"File already exists."},
    {kErrMultipleStep, u"Multiple-step operation generated errors. Check each status value."},
};

const char16_t* SourceName(ErrorSource source) noexcept {
    switch (source) {
    case ErrorSource::Recordset: return u"ADODB.Recordset";
    case ErrorSource::Fields: return u"ADODB.Fields";
    case ErrorSource::Field: return u"ADODB.Field";
    case ErrorSource::Command: return u"ADODB.Command";
    case ErrorSource::Parameters: return u"ADODB.Parameters";
    case ErrorSource::Parameter: return u"ADODB.Parameter";
    case ErrorSource::Properties: return u"ADODB.Properties";
    }
    return u"ADODB";
}

}  // namespace

std::u16string_view DescriptionOf(HRESULT hr) {
    for (const Description& d : kDescriptions) {
        if (d.hr == hr)
            return d.text;
    }
    return {};
}

HRESULT ReportError(HRESULT hr, const GUID& iid, ErrorSource source, std::u16string_view detail, bool replace) {
    try {
        std::u16string text(replace ? std::u16string_view() : DescriptionOf(hr));
        if (!detail.empty()) {
            if (!text.empty())
                text += u' ';
            text += detail;
        }
        if (text.empty()) {
            SetErrorInfo(0, nullptr);
            return hr;
        }
        ICreateErrorInfo* create = nullptr;
        if (FAILED(CreateErrorInfo(&create)) || !create) {
            SetErrorInfo(0, nullptr);
            return hr;
        }
        Ref<ICreateErrorInfo> creator = Ref<ICreateErrorInfo>::Adopt(create);
        GUID guid = iid;
        creator->SetGUID(guid);
        std::u16string sourceName(SourceName(source));
        creator->SetSource(reinterpret_cast<LPOLESTR>(sourceName.data()));
        creator->SetDescription(reinterpret_cast<LPOLESTR>(text.data()));
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(creator->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) && info) {
            SetErrorInfo(0, info);
            info->Release();
        }
    } catch (const std::bad_alloc&) {
        // The failure code still reaches the caller, without a description.
        SetErrorInfo(0, nullptr);
    }
    return hr;
}

BSTR AllocBstr(std::u16string_view text) {
    BSTR s = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
    if (!s)
        throw std::bad_alloc();
    return s;
}

bool SameName(std::u16string_view a, std::u16string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z')
            x = static_cast<char16_t>(x - u'a' + u'A');
        if (y >= u'a' && y <= u'z')
            y = static_cast<char16_t>(y - u'a' + u'A');
        // Latin-1 letters compare without case as well.
        if (x >= 0xE0 && x <= 0xFE && x != 0xF7)
            x = static_cast<char16_t>(x - 0x20);
        if (y >= 0xE0 && y <= 0xFE && y != 0xF7)
            y = static_cast<char16_t>(y - 0x20);
        if (x != y)
            return false;
    }
    return true;
}

}  // namespace comhost::ado
