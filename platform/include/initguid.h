/* Including this header makes the DEFINE_GUIDs that follow define their
 * GUIDs instead of only declaring them. */
#ifndef INITGUID
#define INITGUID
#endif
#include <guiddef.h>
