/* Part of <wtypes.h>; kept under this name for code that includes it directly. */
#ifndef COMHOST_WTYPESBASE_H
#define COMHOST_WTYPESBASE_H
#include <wtypes.h>
#endif
