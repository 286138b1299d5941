// Connection strings: "Keyword=Value;..." pairs as ADO reads them.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace comhost::ado {

struct ConnectionString {
    std::u16string provider;   // the "Provider" value, empty when not given
    std::vector<std::pair<std::u16string, std::u16string>> properties;   // the other keywords
};

// Splits `text` at semicolons into keyword/value pairs.  Keywords are
// compared without case and trimmed; a value may be quoted with ' or " (a
// doubled quote stands for itself) to hold ';' or '='.  Returns false for a
// pair without '=' or an unterminated quote.
bool ParseConnectionString(std::u16string_view text, ConnectionString& out);

// True for the persistence provider's names ("MSPersist", "MSPersist.1").
bool IsPersistProvider(std::u16string_view provider) noexcept;

}  // namespace comhost::ado
