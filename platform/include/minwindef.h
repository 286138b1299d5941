/* Part of <windef.h>; kept under this name for code that includes it directly. */
#ifndef COMHOST_MINWINDEF_H
#define COMHOST_MINWINDEF_H
#include <windef.h>
#endif
