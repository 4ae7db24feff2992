// A stand-in installer for the end-to-end tests: records its parameters in the file that
// UPDATER_SETUP_RECORD names, runs for a while, then records its end, so a test can tell that
// the updater waited for it.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const char* record = std::getenv("UPDATER_SETUP_RECORD");
    if (!record)
        return 2;
    if (std::FILE* f = std::fopen(record, "wb")) {
        for (int i = 1; i < argc; ++i)
            std::fprintf(f, "arg %s\n", argv[i]);
        std::fclose(f);
    }
    ::Sleep(1500);
    if (std::FILE* f = std::fopen(record, "ab")) {
        std::fputs("end\n", f);
        std::fclose(f);
    }
    return 0;
}
