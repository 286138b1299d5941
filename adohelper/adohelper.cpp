#include "adohelper/adohelper.h"

namespace nuv {

STDMETHODIMP CNUVADOHelper::InterfaceSupportsErrorInfo(REFIID riid) {
    static const IID* const reporting[] = {&IID_IADOHelper};
    for (const IID* iid : reporting) {
        if (InlineIsEqualGUID(riid, *iid))
            return S_OK;
    }
    return S_FALSE;
}

}  // namespace nuv
