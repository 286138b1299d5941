/* Part of <objbase.h>; kept under this name for code that includes it directly. */
#ifndef COMHOST_COMBASEAPI_H
#define COMHOST_COMBASEAPI_H
#include <objbase.h>
#endif
