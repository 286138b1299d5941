// A RowSink that builds a Table from what Read gives, so that it can be
// compared with what Load gives (tests and the fuzz target).
#pragma once

#include "persist.h"

#include <string>
#include <string_view>
#include <utility>

namespace persist_test {

using namespace comhost::persist;

// Builds a Table from what Read gives, so that it can be compared with Load.
class TableSink final : public RowSink {
public:
    Table table;

    void Reset() override { table = Table(); }
    void SetSchema(const Schema& schema) override { table.schema = schema; }
    void AddRow(Row&& row) override { table.rows.push_back(std::move(row)); }
    void BeginRow(RowState state) override {
        Row row;
        row.values.resize(table.schema.columns.size());
        row.state = state;
        table.rows.push_back(std::move(row));
    }
    void SetValue(size_t column, const comhost::persist::Value& value) override { table.rows.back().values.at(column) = value; }
    void SetText(size_t column, std::string_view utf8) override {
        std::u16string text;
        for (size_t i = 0; i < utf8.size();) {
            char32_t cp = static_cast<unsigned char>(utf8[i]);
            const int extra = cp < 0x80 ? 0 : cp < 0xE0 ? 1 : cp < 0xF0 ? 2 : 3;
            if (extra) cp &= 0x3F >> extra;
            for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
            i += 1 + extra;
            if (cp >= 0x10000) {
                text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
                text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            } else {
                text.push_back(static_cast<char16_t>(cp));
            }
        }
        table.rows.back().values.at(column) = std::move(text);
    }
    void EndRow() override {}
    void DropRow() override { table.rows.pop_back(); }
};

}  // namespace persist_test
