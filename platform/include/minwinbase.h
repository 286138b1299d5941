/* Part of <winbase.h>; kept under this name for code that includes it directly. */
#ifndef COMHOST_MINWINBASE_H
#define COMHOST_MINWINBASE_H
#include <winbase.h>
#endif
