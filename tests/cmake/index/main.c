/* Looks files up in two libraries of whole folders and prints each library's files, sorted, for
 * the check to compare with the folders; exits with the number of lookups that went wrong. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "vormesta/blobs.h"
#include "vormesta/odd.h"
#include "vormesta/site.h"

int check_cpp(void);

/* Whether `file` holds the bytes of its file below ODD_DIR, and a NUL after them. */
static int same_as_on_disk(const struct vormesta_file* file) {
    static char path[4096];
    unsigned char bytes[256];
    size_t got;
    FILE* in;
    sprintf(path, "%.2000s/%.2000s", ODD_DIR, file->path);
    in = fopen(path, "rb");
    if (!in)
        return 0;
    got = fread(bytes, 1, sizeof bytes, in);
    fclose(in);
    return got == file->size && memcmp(bytes, file->data, got) == 0 && file->data[got] == 0;
}

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
    /* Any name a folder holds, found by its path, with its own bytes; droppings and hidden
     * files left out; a walk below a folder; two index.html in one program. */
    for (size_t i = 0; i < odd_count(); ++i) {
        const struct vormesta_file* file = odd_at(i);
        expect(odd_find(file->path) == file, file->path);
        expect(same_as_on_disk(file), file->path);
    }
    static const char* const absent[] = {"#index.html#", "index.html~", ".gitkeep", "css"};
    for (size_t i = 0; i < sizeof absent / sizeof absent[0]; ++i)
        expect(odd_find(absent[i]) == NULL, absent[i]);
    static const char* const present[] = {"a;b.html", "[slug].html", "empty.css", "count.txt",
                                          "files.json", "index.js", "(group)/page.html"};
    for (size_t i = 0; i < sizeof present / sizeof present[0]; ++i)
        expect(odd_find(present[i]) != NULL, present[i]);
    expect(odd_find("empty.css") && odd_find("empty.css")->size == 0 &&
           odd_find("empty.css")->data[0] == 0, "an empty file, as \"\"");
    size_t below = 0;
    const struct vormesta_file* first = odd_below("css", &below);
    expect(below == 1 && first && strcmp(first->path, "css/deep/x.css") == 0, "below css");
    expect(odd_below("css/", &below) == first && below == 1, "below css/");
    expect(odd_below("css/deep/x.css", &below) == NULL && below == 0, "below a file");
    expect(odd_below("", &below) == odd_at(0) && below == odd_count(), "below the top");
    expect(odd_below("(group)", &below) != NULL && below == 1, "below (group)");
    expect(odd_find("index.html") && site_find("index.html") &&
           odd_find("index.html")->data != site_find("index.html")->data, "two index.html");
    printf("odd count %zu\n", odd_count());
    failed += check_cpp();
    return failed;
}
