/* Looks files up in two libraries of whole folders and prints each library's files, sorted, for
 * the check to compare with the folders; exits with the number of lookups that went wrong. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "vormesta/blobs.h"
#include "vormesta/odd.h"
#include "vormesta/site.h"
#include "vormesta/web.h"
#include "vormesta/notes.h"

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

/* The form vormesta_negotiate picks for each Accept-Encoding value, among br, zstd and gzip
 * (smallest first); "-" for the bytes as they are. */
static void check_negotiation(void) {
    static const struct vormesta_encoding forms[] = {
        {"br", (const unsigned char*)"", 10, "\"b\""},
        {"zstd", (const unsigned char*)"", 20, "\"z\""},
        {"gzip", (const unsigned char*)"", 30, "\"g\""},
    };
    static const struct vormesta_file file = {"a.html", (const unsigned char*)"", 40, "text/html",
                                              "\"a\"", forms, 3};
    static const struct vormesta_file plain = {"b.html", (const unsigned char*)"", 40,
                                               "text/html", "\"b\"", NULL, 0};
    static const struct {
        const char* accept;
        const char* chosen;
    } rows[] = {
        {"", "-"},
        {"gzip", "gzip"},
        {"gzip, deflate, br", "br"},
        {"gzip, deflate, br, zstd", "br"},
        {"BR", "br"},
        {"Gzip", "gzip"},
        {"br;q=0, gzip", "gzip"},
        {" gzip ; q=0.5 ,br;q=0 ", "gzip"},
        {"br;Q=0,gzip", "gzip"},
        {"br;q=0.000, zstd;q=0.001", "zstd"},
        {"br;q=0.", "-"},
        {"zstd;q=0.5, gzip;q=1.0", "zstd"},
        {"*", "br"},
        {"*;q=0", "-"},
        {"*, br;q=0", "zstd"},
        {"br;q=0, *;q=0.1", "zstd"},
        {"identity", "-"},
        {"identity, *;q=0", "-"},
        {"deflate", "-"},
        {"brotli, gzip2, zst", "-"},
        {"x-gzip", "gzip"},
        {"br;level=5", "br"},
        {"br;q=bad, gzip", "gzip"},
        {",,, ,gzip,", "gzip"},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        const struct vormesta_encoding* chosen = vormesta_negotiate(&file, rows[i].accept);
        const char* name = chosen ? chosen->name : "-";
        if (strcmp(name, rows[i].chosen) != 0)
            printf("FAILED: Accept-Encoding \"%s\" gave %s, not %s\n", rows[i].accept, name,
                   rows[i].chosen);
    }
    expect(vormesta_negotiate(&file, NULL) == NULL, "no Accept-Encoding: the bytes");
    expect(vormesta_negotiate(&plain, "gzip, br") == NULL, "a file with no forms: the bytes");
    expect(vormesta_negotiate(NULL, "gzip") == NULL, "no file");
}

#ifdef WEB_ZLIB
#include <zlib.h>
/* Whether a gzip form inflates to the file's bytes (the test links zlib; a program that serves
 * the forms needs none). */
static int inflates_to(const struct vormesta_encoding* form, const struct vormesta_file* file) {
    static unsigned char out[1 << 16];
    z_stream stream;
    int status;
    memset(&stream, 0, sizeof stream);
    if (inflateInit2(&stream, 15 + 16) != Z_OK)
        return 0;
    stream.next_in = (unsigned char*)form->data;
    stream.avail_in = (unsigned)form->size;
    stream.next_out = out;
    stream.avail_out = sizeof out;
    status = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    return status == Z_STREAM_END && stream.total_out == file->size &&
           memcmp(out, file->data, file->size) == 0;
}
#endif

/* The web library: each file's type, its validator, and its forms where they are smaller. */
static void check_web(void) {
    static const struct {
        const char* path;
        const char* type;
        int forms; /* whether it has compressed forms */
    } rows[] = {
        {"index.html", "text/html; charset=utf-8", 1},
        {"css/site.css", "text/css; charset=utf-8", 1},
        {"data.json", "application/json", 1},
        {"latin1.txt", "text/plain", 1},                 /* not UTF-8: no charset */
        {"img/photo.PNG", "image/png", 0},               /* compressed already, by its name */
        {"img/disguised.txt", "text/plain", 0},          /* a PNG by its bytes */
        {"noise.bin", "application/octet-stream", 0},    /* no form is smaller */
        {"tiny.txt", "text/plain; charset=utf-8", 0},    /* nor here */
        {"unknown.xyz", "application/octet-stream", 1},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        const struct vormesta_file* file = web_find(rows[i].path);
        size_t k;
        expect(file && strcmp(file->type, rows[i].type) == 0, rows[i].type);
        if (!file)
            continue;
        expect((file->encoding_count > 0) == (rows[i].forms && WEB_CODINGS > 0), rows[i].path);
        expect(file->etag && strlen(file->etag) == 34 && file->etag[0] == '"' &&
                   file->etag[33] == '"', "a quoted validator");
        for (k = 0; k < file->encoding_count; ++k) {
            const struct vormesta_encoding* form = &file->encodings[k];
            expect(form->size < file->size, "a form smaller than the bytes");
            expect(k == 0 || file->encodings[k - 1].size <= form->size, "smallest first");
            expect(strcmp(form->etag, file->etag) != 0 &&
                       (k == 0 || strcmp(form->etag, file->encodings[k - 1].etag) != 0),
                   "each form its own validator");
            expect(vormesta_negotiate(file, form->name) == form, form->name);
#ifdef WEB_ZLIB
            expect(strcmp(form->name, "gzip") != 0 || inflates_to(form, file), "gzip inflates");
#endif
        }
    }
    expect(web_find("index.html")->encoding_count == WEB_CODINGS, "each coding the step has");
    expect(strcmp(web_find("same-a.txt")->etag, web_find("same-b.txt")->etag) == 0,
           "the same bytes, the same validator");
    expect(strcmp(web_find("same-a.txt")->etag, web_find("other.txt")->etag) != 0,
           "other bytes, another validator");
    expect(notes_find("index.html")->encoding_count == WEB_CODINGS &&
               notes_find("data.json")->encoding_count == 0 && !notes_find("data.json")->etag,
           "VORMESTA_COMPRESS on one file alone");
    expect(site_find("index.html")->etag == NULL && site_find("index.html")->encoding_count == 0,
           "no validator or forms unless asked");
    expect(strcmp(site_find("index.html")->type, "text/html; charset=utf-8") == 0,
           "a type whatever is asked");
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
    check_negotiation();
    check_web();
    printf("odd count %zu\n", odd_count());
    failed += check_cpp();
    return failed;
}
