// Writes saved recordsets in ADO's XML persistence format of any size, for
// the benchmarks: seven columns (int, i2, string with maxLength 60, string
// without size, r8, dateTime, boolean), some values missing, an apostrophe
// written as a character reference and raw UTF-8 accents, the first rows in
// rs:data and the rest in rs:insert.  The same seed gives the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace bench_gen {

// A small, fast, repeatable generator (splitmix64).
class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed) {}
    uint64_t Next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }

private:
    uint64_t m_state;
};

inline const char* const kWords[] = {
    "CÉLERI", "ENTIER", "ÉPLUCHÉ", "carrot", "Pomme", "de", "terre", "O&#x27;Leary", "sauce", "tomate",
    "bœuf", "haché", "Crème", "fraîche", "lait", "demi-écrémé", "farine", "sucre", "beurre", "sel"};

inline void AppendWords(Random& r, std::string& out, size_t maxBytes) {
    const size_t start = out.size();
    const uint32_t n = 1 + r.Below(5);
    for (uint32_t i = 0; i < n; ++i) {
        const char* w = kWords[r.Below(sizeof kWords / sizeof kWords[0])];
        const size_t len = std::char_traits<char>::length(w);
        if (out.size() - start + len + 1 > maxBytes) break;
        if (i != 0) out += ' ';
        out += w;
    }
}

// The document for `rows` rows; about 155 bytes a row.
inline std::string SavedRecordset(size_t rows, uint64_t seed = 42) {
    Random r(seed);
    std::string doc;
    doc.reserve(rows * 160 + 2048);
    doc +=
        "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'\n"
        "\txmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'\n"
        "\txmlns:rs='urn:schemas-microsoft-com:rowset'\n"
        "\txmlns:z='#RowsetSchema'>\n"
        "<s:Schema id='RowsetSchema'>\n"
        "\t<s:ElementType name='row' content='eltOnly' rs:updatable='true'>\n"
        "\t\t<s:AttributeType name='pro_numpro' rs:number='1' rs:write='true'>\n"
        "\t\t\t<s:datatype dt:type='int' dt:maxLength='4' rs:precision='0' rs:fixedlength='true' rs:maybenull='false'/>\n"
        "\t\t</s:AttributeType>\n"
        "\t\t<s:AttributeType name='pro_t1' rs:number='2' rs:nullable='true' rs:write='true'>\n"
        "\t\t\t<s:datatype dt:type='i2' dt:maxLength='2' rs:precision='0' rs:fixedlength='true'/>\n"
        "\t\t</s:AttributeType>\n"
        "\t\t<s:AttributeType name='pro_nom' rs:number='3' rs:nullable='true' rs:write='true'>\n"
        "\t\t\t<s:datatype dt:type='string' dt:maxLength='60' rs:precision='0'/>\n"
        "\t\t</s:AttributeType>\n"
        "\t\t<s:AttributeType name='pro_critere' rs:number='4' rs:nullable='true' rs:write='true'>\n"
        "\t\t\t<s:datatype dt:type='string' rs:precision='0'/>\n"
        "\t\t</s:AttributeType>\n"
        "\t\t<s:AttributeType name='pro_prix' rs:number='5' rs:nullable='true' rs:write='true'>\n"
        "\t\t\t<s:datatype dt:type='float' dt:maxLength='8' rs:precision='15' rs:fixedlength='true'/>\n"
        "\t\t</s:AttributeType>\n"
        "\t\t<s:AttributeType name='pro_date' rs:number='6' rs:nullable='true' rs:write='true'>\n"
        "\t\t\t<s:datatype dt:type='dateTime' rs:dbtype='variantdate' dt:maxLength='16' rs:fixedlength='true'/>\n"
        "\t\t</s:AttributeType>\n"
        "\t\t<s:AttributeType name='pro_actif' rs:number='7' rs:write='true'>\n"
        "\t\t\t<s:datatype dt:type='boolean' dt:maxLength='2' rs:fixedlength='true' rs:maybenull='false'/>\n"
        "\t\t</s:AttributeType>\n"
        "\t\t<s:extends type='rs:rowbase'/>\n"
        "\t</s:ElementType>\n"
        "</s:Schema>\n"
        "<rs:data>\n";
    const size_t plain = rows / 2;
    char number[64];
    for (size_t i = 0; i < rows; ++i) {
        if (i == plain) doc += "\t<rs:insert>\n";
        doc += i < plain ? "\t<z:row" : "\t\t<z:row";
        std::snprintf(number, sizeof number, " pro_numpro='%zu'", i + 1);
        doc += number;
        if (r.Below(10) != 0) {
            std::snprintf(number, sizeof number, " pro_t1='%d'", static_cast<int>(r.Below(65536)) - 32768);
            doc += number;
        }
        if (r.Below(20) != 0) {
            doc += " pro_nom='";
            AppendWords(r, doc, 60);
            doc += '\'';
        }
        if (r.Below(4) != 0) {
            doc += " pro_critere='";
            AppendWords(r, doc, 200);
            doc += '\'';
        }
        if (r.Below(8) != 0) {
            std::snprintf(number, sizeof number, " pro_prix='%.2f'", static_cast<double>(r.Below(10000000)) / 100.0);
            doc += number;
        }
        // Continuation of a long start tag, as ADO wraps it.
        doc += "\n\t\t\t";
        if (r.Below(10) != 0) {
            std::snprintf(number, sizeof number, " pro_date='%04u-%02u-%02uT%02u:%02u:%02u'", 1990 + r.Below(40),
                          1 + r.Below(12), 1 + r.Below(28), r.Below(24), r.Below(60), r.Below(60));
            doc += number;
        }
        doc += r.Below(2) ? " pro_actif='True'" : " pro_actif='False'";
        doc += "/>\n";
    }
    if (rows > plain) doc += "\t</rs:insert>\n";
    doc += "</rs:data>\n</xml>\n";
    return doc;
}

}  // namespace bench_gen
