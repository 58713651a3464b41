/* Checks that the embedded arrays hold exactly the bytes of the files they came from (found in
 * the runfiles, which `bazel run` starts in). */
#include <errno.h> /* the system's: "assets/errno.h" must not hide it */
#include <stdio.h>
#include <string.h>

#include "assets/errno.h"     /* array assets_errno */
#include "assets/logo.h"      /* array assets_logo */
#include "icons/app.h"        /* array icons_app */
#include "library/greeting.h" /* declares library_greeting, defined in the library */
#include "library/table.h"    /* declares library_table */
#include "vormesta/embedded_files.h" /* finds the library's files by path */
#include "vormesta/site.h"           /* the files of the folder site/ */

static int same_as_file(const unsigned char* array, size_t size, const char* path) {
    unsigned char bytes[4096];
    FILE* file = fopen(path, "rb");
    const size_t got = file ? fread(bytes, 1, sizeof bytes, file) : 0;
    const int same = file && got == size && memcmp(bytes, array, size) == 0;
    if (file)
        fclose(file);
    printf("%s: %s (%zu bytes embedded)\n", path, same ? "same" : "DIFFERENT", size);
    return same;
}

int main(void) {
    const int all = same_as_file(assets_logo, sizeof assets_logo, "assets/logo.bin") &
                    same_as_file(assets_errno, sizeof assets_errno, "assets/errno.txt") &
                    same_as_file(icons_app, sizeof icons_app, "res/icons/app.ico") &
                    same_as_file(library_greeting, sizeof library_greeting,
                                 "library/greeting.txt") &
                    same_as_file(library_table, sizeof library_table, "library/table.bin");
    const struct vormesta_file* found = embedded_files_find("library/table.bin");
    const int indexed = embedded_files_count() == 2 && found && found->data == library_table &&
                        found->size == sizeof library_table && !embedded_files_find("table.bin");
    printf("index: %s\n", indexed ? "library/table.bin found, table.bin not" : "WRONG");
    /* The folder: index.html beside index.js, an empty file, [slug].html, ';' and a space. */
    const struct vormesta_file* slug = site_find("[slug].html");
    const struct vormesta_file* empty = site_find("empty.css");
    /* compress = ["gzip"]: a smaller form where there is one, a validator for each file; live
       (--define vormesta_live=1), the bytes as they are, with a weak validator. */
    const struct vormesta_file* about = site_find("about.html");
    const int live = about && about->etag && strncmp(about->etag, "W/", 2) == 0;
    const int web = about && about->etag &&
                    (live ? about->encoding_count == 0
                          : about->encoding_count == 1 &&
                                strcmp(about->encodings[0].name, "gzip") == 0 &&
                                about->encodings[0].size < about->size) &&
                    slug && slug->encoding_count == 0 &&
                    strcmp(about->type, "text/html; charset=utf-8") == 0;
    const int walked = web && site_count() == 7 && site_find("index.html") && site_find("index.js") &&
                       site_find("a;b.html") && site_find("sp ace.txt") && slug &&
                       same_as_file(slug->data, slug->size, "site/[slug].html") &&
                       same_as_file(about->data, about->size, "site/about.html") &&
                       slug->data[slug->size] == 0 && empty && empty->size == 0;
    printf("site: %zu files%s%s\n", site_count(), live ? ", live" : "", walked ? "" : ", WRONG");
    return all && indexed && walked && errno == 0 ? 0 : 1;
}
