/* Looks files up in two libraries of whole folders and prints each library's files, sorted, for
 * the check to compare with the folders; exits with the number of lookups that went wrong. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "vormesta/blobs.h"
#include "vormesta/site.h"

int check_cpp(void);

static int failed = 0;

static void expect(int ok, const char* what) {
    if (!ok) {
        printf("FAILED: %s\n", what);
        ++failed;
    }
}

int main(void) {
    static const struct {
        const char* path;
        int found;
    } lookups[] = {
        {"index.html", 1}, {"css/site.css", 1}, {"\xc3\xbc.txt", 1}, /* ü.txt */
        {"missing.html", 0}, {"", 0}, {"../www/index.html", 0}, {"./index.html", 0},
        {"INDEX.HTML", 0}, {"css\\site.css", 0}, {"drafts/wip.html", 0}, {"README", 0},
        {"css", 0}, {"index.htm", 0}, {"index.html/", 0},
    };
    for (size_t i = 0; i < sizeof lookups / sizeof lookups[0]; ++i) {
        const struct vormesta_file* file = site_find(lookups[i].path);
        expect((file != NULL) == lookups[i].found, lookups[i].path);
        expect(!file || strcmp(file->path, lookups[i].path) == 0, "the path found");
    }
    expect(site_find(NULL) == NULL, "a null path");
    expect(site_at(site_count()) == NULL, "past the end");
    /* Every file is found by its path; sorted; text ends in a NUL past the size; the blobs are
     * aligned. */
    for (size_t i = 0; i < site_count(); ++i) {
        const struct vormesta_file* file = site_at(i);
        expect(site_find(file->path) == file, file->path);
        expect(i == 0 || strcmp(site_at(i - 1)->path, file->path) < 0, "sorted");
        expect(file->data[file->size] == 0, "a NUL after the text");
        printf("site %s %zu\n", file->path, file->size);
    }
    for (size_t i = 0; i < blobs_count(); ++i) {
        const struct vormesta_file* file = blobs_at(i);
        expect(blobs_find(file->path) == file, file->path);
        expect((uintptr_t)file->data % 4096 == 0, "aligned to 4096");
        printf("blobs %s %zu\n", file->path, file->size);
    }
    expect(blobs_find("index.html") == NULL && site_find("a.bin") == NULL, "two libraries apart");
    failed += check_cpp();
    return failed;
}
