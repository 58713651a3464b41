/* The README's Meson quick start, built as written: headers, a library and a folder. */
#include "assets/errno.h"
#include "assets/logo.h"
#include "library/table.h"
#include "vormesta/embedded_files.h"
#include "vormesta/site.h"

#include <errno.h>
#include <string.h>

int main(void) {
    const struct vormesta_file* table = embedded_files_find("library/table.bin");
    const struct vormesta_file* page = site_find("index.html");
    return !(sizeof assets_logo == 5 && memcmp(assets_errno, "EPERM 1\n", 8) == 0 && EPERM > 0 &&
             table && table->data == library_table && table->size == 6 && page &&
             strcmp((const char*)page->data, "<p>site</p>\n") == 0);
}
