// The "MSPersist" provider of the host layer: reads and writes recordsets in
// ADO's XML persistence format through the persistence library, mapping its
// neutral table model onto columns and rows of VARIANTs.
#pragma once

#include "recordset.h"

#include <string>

namespace comhost::ado {

// Reads the file at `path` (a host path).  On failure returns the ADO code
// (kErrOpeningFile for a file that cannot be opened, kErrReadFile for one
// whose content is not a valid saved recordset, E_OUTOFMEMORY) and a
// description of what is wrong in `detail`; `out` is then left untouched.
HRESULT LoadRowSet(const std::string& path, RowSet& out, std::u16string& detail);

// Writes the columns, rows and pending deletions (rows without values of
// their own read from `store`) to `path`, with what `info`
// (from the file the recordset was opened from, or null) kept besides them;
// `updatable` says whether a fabricated recordset's rows take changes.  With
// `createNew` the file must not exist yet (kErrFileAlreadyExists otherwise);
// without it an existing file is replaced.  Columns whose values cannot be
// saved (objects) give kErrFeatureNotAvailable; a file that cannot be written
// gives kErrWriteFile; `detail` says more.
HRESULT SaveRowSet(const std::string& path, bool createNew, const std::vector<ColumnRef>& columns,
                   const std::vector<Row>& rows, const std::vector<Row>& deleted, const RowStore* store,
                   bool updatable, const PersistTableInfo* info, std::u16string& detail);

}  // namespace comhost::ado
