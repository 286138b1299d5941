# Interface definitions compiled with widl (mingw-w64-tools), the same way in
# the Linux and the win32 build.  Everything lands in ${NUV_GENERATED_DIR}:
#
#   stdole2.tlb        OLE Automation library (stdole 2.0: IUnknown, IDispatch)
#   msado27.tlb        ADO 2.7 library, referenced by adohelper.tlb
#   adohelper.tlb      ADO_HELPERLib 1.0, carried by the server as TYPELIB 1
#   adohelper_h.h      C/C++ declarations of IADOHelper and the library's GUIDs
#   adohelper_i.c      definitions of LIBID_ADO_HELPERLib, IID_IADOHelper and
#                      CLSID_NUVADOHelper (NUV_IDL_SOURCES)
#   msado27.h          Linux only: the ADO declarations behind <adoint.h>
#   msado27_i.c        Linux only: the ADO interface identifiers
#
# Target nuv_idl builds all of them.  The type libraries are always 32-bit
# Windows ones (--win32): they describe the interfaces as a Windows client
# sees them, and the server carries the same TYPELIB resource in both builds.

find_program(NUV_WIDL NAMES i686-w64-mingw32-widl REQUIRED
             DOC "widl from mingw-w64-tools, the IDL compiler")

set(NUV_IDL_DIR ${CMAKE_SOURCE_DIR}/platform/idl)

# Every IDL file of platform/idl: the base files that the others import
# (wtypes, unknwn, oaidl, adoint) and the ADO library.  A change to any of
# them regenerates what imports them.
file(GLOB NUV_IDL_FILES CONFIGURE_DEPENDS ${NUV_IDL_DIR}/*.idl)

# No system IDL search path: only our own base files are seen.  -L lets
# importlib() find the type libraries built before.
set(NUV_WIDL_FLAGS --nostdinc --win32 -I ${NUV_IDL_DIR} -L ${NUV_GENERATED_DIR})

set(NUV_STDOLE2_TLB   ${NUV_GENERATED_DIR}/stdole2.tlb)
set(NUV_MSADO27_TLB   ${NUV_GENERATED_DIR}/msado27.tlb)
set(NUV_ADOHELPER_TLB ${NUV_GENERATED_DIR}/adohelper.tlb)
set(NUV_ADOHELPER_H   ${NUV_GENERATED_DIR}/adohelper_h.h)
set(NUV_ADOHELPER_I_C ${NUV_GENERATED_DIR}/adohelper_i.c)

# widl runs from the source tree with relative input paths, so that the
# "generated from" line of the headers names the file within the project.
add_custom_command(
  OUTPUT ${NUV_STDOLE2_TLB}
  COMMAND ${NUV_WIDL} ${NUV_WIDL_FLAGS} -t -o ${NUV_STDOLE2_TLB} platform/idl/stdole2.idl
  DEPENDS ${NUV_IDL_DIR}/stdole2.idl
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
  COMMENT "widl: stdole2.tlb"
  VERBATIM)

set(nuv_msado27_outputs ${NUV_MSADO27_TLB})
set(nuv_msado27_commands
  COMMAND ${NUV_WIDL} ${NUV_WIDL_FLAGS} -t -o ${NUV_MSADO27_TLB} platform/idl/msado27.idl)
if(NOT NUV_WIN32)
  # On Windows the SDK's <adoint.h> declares ADO; the host layer's <adoint.h>
  # includes this header instead.
  list(APPEND nuv_msado27_outputs ${NUV_GENERATED_DIR}/msado27.h ${NUV_GENERATED_DIR}/msado27_i.c)
  list(APPEND nuv_msado27_commands
    COMMAND ${NUV_WIDL} ${NUV_WIDL_FLAGS} -h -H ${NUV_GENERATED_DIR}/msado27.h platform/idl/msado27.idl
    COMMAND ${NUV_WIDL} ${NUV_WIDL_FLAGS} -u -o ${NUV_GENERATED_DIR}/msado27_i.c platform/idl/msado27.idl)
endif()
add_custom_command(
  OUTPUT ${nuv_msado27_outputs}
  ${nuv_msado27_commands}
  DEPENDS ${NUV_IDL_FILES} ${NUV_STDOLE2_TLB}
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
  COMMENT "widl: msado27.tlb"
  VERBATIM)

# adohelper.idl imports adoint.idl (and through it msado27.idl) only to parse
# the ADO types; importlib() makes the library refer to them in msado27.tlb.
add_custom_command(
  OUTPUT ${NUV_ADOHELPER_TLB} ${NUV_ADOHELPER_H} ${NUV_ADOHELPER_I_C}
  COMMAND ${NUV_WIDL} ${NUV_WIDL_FLAGS} -t -o ${NUV_ADOHELPER_TLB} adohelper/adohelper.idl
  COMMAND ${NUV_WIDL} ${NUV_WIDL_FLAGS} -h -H ${NUV_ADOHELPER_H} adohelper/adohelper.idl
  COMMAND ${NUV_WIDL} ${NUV_WIDL_FLAGS} -u -o ${NUV_ADOHELPER_I_C} adohelper/adohelper.idl
  DEPENDS ${CMAKE_SOURCE_DIR}/adohelper/adohelper.idl ${NUV_IDL_FILES}
          ${NUV_STDOLE2_TLB} ${NUV_MSADO27_TLB}
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
  COMMENT "widl: adohelper.tlb, adohelper_h.h, adohelper_i.c"
  VERBATIM)

add_custom_target(nuv_idl
  DEPENDS ${NUV_STDOLE2_TLB} ${nuv_msado27_outputs}
          ${NUV_ADOHELPER_TLB} ${NUV_ADOHELPER_H} ${NUV_ADOHELPER_I_C})

# The GUID definitions of ADO_HELPERLib, for the product to compile.  They
# are compiled as C++, like the rest of the product: the host layer's COM
# headers are C++ only, and the product's C++ options then apply to them.
set(NUV_IDL_SOURCES ${NUV_ADOHELPER_I_C})
set_source_files_properties(${NUV_ADOHELPER_I_C} PROPERTIES LANGUAGE CXX)
