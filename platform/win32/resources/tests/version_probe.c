/* Prints what the system's version functions answer for each file given, and the names of a
 * few languages, one fact a line, for comparison with the POSIX stand-ins:
 *   file <index>
 *   fixed <13 words in hex>            (or "none" when the file has no version resource)
 *   trans <hex entry>...
 *   str <llllcccc> <name>=<value>      (standard names that exist)
 *   lang <id in hex> <result> <name>
 */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

static const char* const kNames[] = {"Comments", "CompanyName", "FileDescription", "FileVersion",
                                     "InternalName", "LegalCopyright", "LegalTrademarks",
                                     "OriginalFilename", "PrivateBuild", "ProductName",
                                     "ProductVersion", "SpecialBuild", "OLESelfRegister"};
static const DWORD kLanguages[] = {0x0409, 0x0407, 0x040C, 0x0411, 0x0804, 0x0C0A, 0x0000, 0x0400,
                                   0x7F,   0x1234};

int main(int argc, char** argv) {
    int i;
    unsigned k;
    for (i = 1; i < argc; ++i) {
        DWORD handle = 0;
        DWORD size = GetFileVersionInfoSizeA(argv[i], &handle);
        unsigned char* block;
        VS_FIXEDFILEINFO* fixed = NULL;
        DWORD* trans = NULL;
        UINT len = 0;
        printf("file %d\n", i - 1);
        if (size == 0 || (block = (unsigned char*)malloc(size)) == NULL ||
            !GetFileVersionInfoA(argv[i], 0, size, block)) {
            printf("fixed none\n");
            continue;
        }
        if (VerQueryValueA(block, "\\", (void**)&fixed, &len) && len >= sizeof *fixed) {
            const DWORD* w = (const DWORD*)fixed;
            printf("fixed");
            for (k = 0; k < 13; ++k) {
                printf(" %08lx", (unsigned long)w[k]);
            }
            printf("\n");
        } else {
            printf("fixed none\n");
        }
        printf("trans");
        if (VerQueryValueA(block, "\\VarFileInfo\\Translation", (void**)&trans, &len)) {
            for (k = 0; k < len / 4; ++k) {
                printf(" %08lx", (unsigned long)trans[k]);
            }
        }
        printf("\n");
        for (k = 0; trans != NULL && k < len / 4; ++k) {
            unsigned n;
            for (n = 0; n < sizeof kNames / sizeof kNames[0]; ++n) {
                char key[300];
                char* value = NULL;
                UINT vlen = 0;
                sprintf(key, "\\StringFileInfo\\%04X%04X\\%s", (unsigned)LOWORD(trans[k]),
                        (unsigned)HIWORD(trans[k]), kNames[n]);
                if (VerQueryValueA(block, key, (void**)&value, &vlen)) {
                    printf("str %04X%04X %s=%s\n", (unsigned)LOWORD(trans[k]),
                           (unsigned)HIWORD(trans[k]), kNames[n], value);
                }
            }
        }
        free(block);
    }
    for (k = 0; k < sizeof kLanguages / sizeof kLanguages[0]; ++k) {
        char name[256];
        DWORD r = VerLanguageNameA(kLanguages[k], name, sizeof name);
        printf("lang %04lx %lu %s\n", (unsigned long)kLanguages[k], (unsigned long)r, r ? name : "");
    }
    return 0;
}
