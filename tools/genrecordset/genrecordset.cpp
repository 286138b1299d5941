// genrecordset: writes a fabricated price list of N rows in ADO's XML
// persistence format, the same columns as examples/data/recordsets/recordset1.xml
// (code, product, price, stock).  The rows are the same on every run.
//
//   genrecordset ROWS FILE

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char *const kParts[] = {"Brake pad",  "Brake disc", "Oil filter",  "Air filter", "Bulb",
                              "Wiper blade", "Battery",   "Spark plug", "Fan belt",   "Fuse"};
const char *const kSizes[] = {"small", "medium", "large", "XL"};

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: genrecordset ROWS FILE\n");
        return 2;
    }
    const long rows = std::strtol(argv[1], nullptr, 10);
    FILE *out = std::fopen(argv[2], "wb");
    if (rows < 0 || !out) {
        std::fprintf(stderr, "genrecordset: cannot write %s\n", argv[2]);
        return 1;
    }
    std::fputs("<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'\n"
               "\txmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'\n"
               "\txmlns:rs='urn:schemas-microsoft-com:rowset'\n"
               "\txmlns:z='#RowsetSchema'>\n"
               "<s:Schema id='RowsetSchema'>\n"
               "\t<s:ElementType name='row' content='eltOnly' rs:updatable='true'>\n"
               "\t\t<s:AttributeType name='code' rs:number='1' rs:writeunknown='true'>\n"
               "\t\t\t<s:datatype dt:type='string' rs:dbtype='str' dt:maxLength='8'/>\n"
               "\t\t</s:AttributeType>\n"
               "\t\t<s:AttributeType name='product' rs:number='2' rs:writeunknown='true'>\n"
               "\t\t\t<s:datatype dt:type='string' dt:maxLength='40'/>\n"
               "\t\t</s:AttributeType>\n"
               "\t\t<s:AttributeType name='price' rs:number='3' rs:nullable='true' rs:writeunknown='true'>\n"
               "\t\t\t<s:datatype dt:type='number' rs:dbtype='currency' dt:maxLength='8' rs:precision='19'"
               " rs:fixedlength='true'/>\n"
               "\t\t</s:AttributeType>\n"
               "\t\t<s:AttributeType name='stock' rs:number='4' rs:nullable='true' rs:writeunknown='true'>\n"
               "\t\t\t<s:datatype dt:type='int' dt:maxLength='4' rs:precision='10' rs:fixedlength='true'/>\n"
               "\t\t</s:AttributeType>\n"
               "\t\t<s:extends type='rs:rowbase'/>\n"
               "\t</s:ElementType>\n"
               "</s:Schema>\n"
               "<rs:data>\n",
               out);
    unsigned long state = 12345;
    for (long i = 0; i < rows; ++i) {
        state = state * 1103515245UL + 12345UL;
        const unsigned long r = (state >> 8) & 0xFFFFFF;
        const long cents = 99 + static_cast<long>(r % 49900);  // 0.99 .. 499.98
        const long stock = static_cast<long>((r >> 4) % 500);
        std::fprintf(out, "\t<z:row code='P%06ld' product='%s, %s' price='%ld.%02ld'", i + 1, kParts[r % 10],
                     kSizes[(r >> 12) % 4], cents / 100, cents % 100);
        if (i % 97 != 0) std::fprintf(out, " stock='%ld'", stock);  // some rows have no stock figure
        std::fputs("/>\n", out);
    }
    std::fputs("</rs:data>\n</xml>\n", out);
    return std::fclose(out) == 0 ? 0 : 1;
}
