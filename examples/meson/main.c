/* Checks that the embedded arrays hold exactly the bytes of the files they came from. */
#include <errno.h> /* the system's: "assets/errno.h" must not hide it */
#include <stdio.h>
#include <string.h>

#include "assets/errno.h"     /* array assets_errno */
#include "assets/logo.h"      /* array assets_logo */
#include "library/greeting.h" /* declares library_greeting, defined in the library */
#include "library/table.h"    /* declares library_table */
#include "vormesta/embedded_files.h" /* finds the library's files by path */
#include "vormesta/site.h"           /* the files of the folder site/ */

static int same_as_file(const unsigned char* array, size_t size, const char* name) {
    char path[4096];
    unsigned char bytes[4096];
    snprintf(path, sizeof path, "%s/%s", SOURCE_DIR, name);
    FILE* file = fopen(path, "rb");
    const size_t got = file ? fread(bytes, 1, sizeof bytes, file) : 0;
    const int same = file && got == size && memcmp(bytes, array, size) == 0;
    if (file)
        fclose(file);
    printf("%s: %s (%zu bytes embedded)\n", name, same ? "same" : "DIFFERENT", size);
    return same;
}

int main(void) {
    const int all = same_as_file(assets_logo, sizeof assets_logo, "assets/logo.bin") &
                    same_as_file(assets_errno, sizeof assets_errno, "assets/errno.txt") &
                    same_as_file(library_greeting, sizeof library_greeting,
                                 "library/greeting.txt") &
                    same_as_file(library_table, sizeof library_table, "library/table.bin");
    const struct vormesta_file* found = embedded_files_find("library/table.bin");
    const struct vormesta_file* greeting = embedded_files_find("library/greeting.txt");
    const int indexed = embedded_files_count() == 2 && found && found->data == library_table &&
                        found->size == sizeof library_table && !embedded_files_find("table.bin") &&
                        strcmp(found->type, "application/octet-stream") == 0 && greeting &&
                        strcmp(greeting->type, "text/plain; charset=utf-8") == 0;
    printf("index: %s\n", indexed ? "library/table.bin found, table.bin not" : "WRONG");
    /* The folder: index.html beside index.js, an empty file and a framework's [slug].html. */
    const struct vormesta_file* slug = site_find("[slug].html");
    const struct vormesta_file* empty = site_find("empty.css");
    const struct vormesta_file* index = site_find("index.html");
    const int walked = index && site_find("index.js") && slug && index->etag &&
                       strcmp(index->type, "text/html; charset=utf-8") == 0 &&
                       same_as_file(slug->data, slug->size, "site/[slug].html") && empty &&
                       empty->size == 0 && empty->data[0] == 0;
    printf("site: %zu files%s\n", site_count(), walked ? "" : ", WRONG");
    return all && indexed && walked && errno == 0 ? 0 : 1;
}
