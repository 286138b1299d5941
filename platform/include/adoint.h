/*
 * ActiveX Data Objects 2.7: the interfaces, enumerations and identifiers of
 * ADODB as C and C++ code sees them.
 *
 * The declarations come from the host layer's ADO library description
 * (platform/idl/msado27.idl, compiled by widl into msado27.h), which names
 * the interfaces as ADO's type library does: Fields, Field, _Recordset,
 * _Parameter ...  C++ code written against the SDK uses the names of the
 * SDK's header for the same interfaces (ADOFields, ADOField, _ADORecordset,
 * _ADOParameter ...); this header adds them, together with the SDK's sizing
 * types, so that such code compiles unchanged.
 *
 * The interface identifiers (IID_Recordset15 ...) and class identifiers
 * (CLSID_Recordset ...) are declared here and defined by whoever uses them,
 * as with the SDK.
 */
#ifndef _ADOINT_H_
#define _ADOINT_H_

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>

#include <msado27.h>

/* Row counts, sizes and positions: 32 bits wide, as in 32-bit ADO.  A
 * position is a row number or one of the PositionEnum values (adPosBOF ...),
 * so it is held in a LONG rather than in the enumeration. */
typedef LONG ADO_LONGPTR;
typedef LONG PositionEnum_Param;

/* The SDK header's names of the interfaces. */
typedef _Collection _ADOCollection;
typedef _DynaCollection _ADODynaCollection;
typedef Property ADOProperty;
typedef Properties ADOProperties;
typedef Error ADOError;
typedef Errors ADOErrors;
typedef _Command _ADOCommand;
typedef _Connection _ADOConnection;
typedef _Recordset _ADORecordset;
typedef Field ADOField;
typedef Fields ADOFields;
typedef _Parameter _ADOParameter;
typedef Parameters ADOParameters;

/* The SDK header also spells the default interfaces of the classes without
 * their leading underscore. */
typedef _Command ADOCommand;
typedef _Connection ADOConnection;
typedef _Recordset ADORecordset;
typedef _Parameter ADOParameter;
typedef _Collection ADOCollection;
typedef _DynaCollection ADODynaCollection;

/* Identifiers under the SDK header's names where they differ from the type
 * library's. */
EXTERN_C const IID IID__ADOCollection;
EXTERN_C const IID IID__ADODynaCollection;

#endif /* _ADOINT_H_ */
