/*
 * The COM runtime and OLE Automation together.
 */
#ifndef COMHOST_OLE2_H
#define COMHOST_OLE2_H

#include <winerror.h>
#include <objbase.h>
#include <oaidl.h>
#if __has_include(<oleauto.h>)
#include <oleauto.h>
#endif

#endif
