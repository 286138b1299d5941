/* Part of <unknwn.h>; kept under this name for code that includes it directly. */
#ifndef COMHOST_UNKNWNBASE_H
#define COMHOST_UNKNWNBASE_H
#include <unknwn.h>
#endif
