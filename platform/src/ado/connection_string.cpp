#include "connection_string.h"

#include "ado_common.h"

namespace comhost::ado {

namespace {

std::u16string_view Trim(std::u16string_view s) noexcept {
    while (!s.empty() && (s.front() == u' ' || s.front() == u'\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == u' ' || s.back() == u'\t'))
        s.remove_suffix(1);
    return s;
}

}  // namespace

bool ParseConnectionString(std::u16string_view text, ConnectionString& out) {
    ConnectionString result;
    size_t i = 0;
    while (i < text.size()) {
        // Keyword up to '='.
        const size_t eq = text.find(u'=', i);
        const size_t semi = text.find(u';', i);
        if (semi != std::u16string_view::npos && (eq == std::u16string_view::npos || semi < eq)) {
            // An empty entry ("a=b;;c=d") is allowed; anything else needs '='.
            if (!Trim(text.substr(i, semi - i)).empty())
                return false;
            i = semi + 1;
            continue;
        }
        if (eq == std::u16string_view::npos)
            return Trim(text.substr(i)).empty() ? (out = std::move(result), true) : false;
        const std::u16string keyword(Trim(text.substr(i, eq - i)));
        if (keyword.empty())
            return false;
        i = eq + 1;
        while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
            ++i;
        std::u16string value;
        if (i < text.size() && (text[i] == u'"' || text[i] == u'\'')) {
            const char16_t quote = text[i++];
            bool closed = false;
            while (i < text.size()) {
                if (text[i] == quote) {
                    if (i + 1 < text.size() && text[i + 1] == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += text[i++];
            }
            if (!closed)
                return false;
            while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
                ++i;
            if (i < text.size() && text[i] != u';')
                return false;
        } else {
            const size_t end = text.find(u';', i);
            value.assign(Trim(text.substr(i, end == std::u16string_view::npos ? text.size() - i : end - i)));
            i = end == std::u16string_view::npos ? text.size() : end;
        }
        if (i < text.size() && text[i] == u';')
            ++i;
        if (SameName(keyword, u"Provider"))
            result.provider = std::move(value);
        else
            result.properties.emplace_back(keyword, std::move(value));
    }
    out = std::move(result);
    return true;
}

bool IsPersistProvider(std::u16string_view provider) noexcept {
    return SameName(provider, u"MSPersist") || SameName(provider, u"MSPersist.1");
}

}  // namespace comhost::ado
