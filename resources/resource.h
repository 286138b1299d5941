// Resource identifiers of nuv_ado_helper.  Included by nuv_ado_helper.rc and
// by the code that loads the resources, so it holds preprocessor definitions
// only (the resource compiler reads it too).
#pragma once

// String table: the project name.
#define IDS_PROJNAME 100

// "REGISTRY" resource: the registration script of the ADOHelper class.
#define IDR_NUVADOHELPER 101

// "TYPELIB" resource: the ADO_HELPERLib type library.
#define IDR_TYPELIB 1
