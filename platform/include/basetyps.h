/*
 * Macros for declaring and implementing COM interfaces in C++.
 */
#ifndef COMHOST_BASETYPS_H
#define COMHOST_BASETYPS_H

#include <winnt.h>
#include <guiddef.h>

#ifndef __cplusplus
#error "the host layer's COM declarations are for C++"
#endif

#ifndef __STRUCT__
#define __STRUCT__ struct
#endif
#ifndef interface
#define interface __STRUCT__
#endif

#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODV(method) virtual HRESULT STDMETHODVCALLTYPE method
#define STDMETHODV_(type, method) virtual type STDMETHODVCALLTYPE method
#define PURE = 0
#define THIS_
#define THIS void
#define DECLARE_INTERFACE(iface) interface DECLSPEC_NOVTABLE iface
#define DECLARE_INTERFACE_(iface, baseiface) interface DECLSPEC_NOVTABLE iface : public baseiface
#define DECLARE_INTERFACE_IID(iface, iid) interface DECLSPEC_UUID(iid) DECLSPEC_NOVTABLE iface
#define DECLARE_INTERFACE_IID_(iface, baseiface, iid) \
  interface DECLSPEC_UUID(iid) DECLSPEC_NOVTABLE iface : public baseiface

#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDMETHODIMPV HRESULT STDMETHODVCALLTYPE
#define STDMETHODIMPV_(type) type STDMETHODVCALLTYPE
#define IFACEMETHOD(method) STDMETHOD(method)
#define IFACEMETHOD_(type, method) STDMETHOD_(type, method)
#define IFACEMETHODIMP STDMETHODIMP
#define IFACEMETHODIMP_(type) STDMETHODIMP_(type)

#define STDAPI EXTERN_C HRESULT STDAPICALLTYPE
#define STDAPI_(type) EXTERN_C type STDAPICALLTYPE
#define STDAPIV EXTERN_C HRESULT STDAPIVCALLTYPE
#define STDAPIV_(type) EXTERN_C type STDAPIVCALLTYPE

#define BEGIN_INTERFACE
#define END_INTERFACE

/*
 * __uuidof.  Each interface or class with an identifier is described by a
 * specialisation of comhost::UuidOf, made by __CRT_UUID_DECL (which interface
 * headers generated from IDL emit after every interface and coclass).
 * __uuidof accepts a type or an expression, and looks through pointers and
 * cv-qualifiers, so __uuidof(IUnknown), __uuidof(p) and __uuidof(**pp) all
 * name the same identifier.  A type without an identifier does not compile.
 */
#include <type_traits>

namespace comhost {
template <typename T>
struct UuidOf;

template <typename T>
constexpr const GUID &uuid_of() noexcept {
  using Bare = std::remove_cv_t<std::remove_pointer_t<std::remove_cv_t<std::remove_reference_t<T>>>>;
  return UuidOf<Bare>::value;
}
}  // namespace comhost

#define __CRT_UUID_DECL(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)         \
  extern "C++" {                                                                 \
  template <>                                                                    \
  struct comhost::UuidOf<type> {                                                 \
    static constexpr GUID value = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}; \
  };                                                                             \
  }

#define __uuidof(x) (::comhost::uuid_of<__typeof__(x)>())

#define IID_PPV_ARGS_Helper(pp) comhost_iid_ppv_args_helper(pp)
#define IID_PPV_ARGS(pp) __uuidof(**(pp)), IID_PPV_ARGS_Helper(pp)
template <typename T>
inline void **comhost_iid_ppv_args_helper(T **pp) {
  return reinterpret_cast<void **>(pp);
}

#endif
