// Prints the system code pages and the default locale, for the tests of
// their environment settings.

#include <windows.h>

#include <cstdio>

int main() {
    std::printf("%u %u %04x\n", GetACP(), GetOEMCP(), static_cast<unsigned>(GetUserDefaultLCID()));
    return 0;
}
