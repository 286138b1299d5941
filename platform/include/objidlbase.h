/* Part of <objidl.h>; kept under this name for code that includes it directly. */
#ifndef COMHOST_OBJIDLBASE_H
#define COMHOST_OBJIDLBASE_H
#include <objidl.h>
#endif
