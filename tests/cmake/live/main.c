/* live_check FOLDER live|embedded|threads: edits FOLDER while it runs and looks at what the
   library serves; every look that differs from what it should prints "FAILED". With "threads",
   readers on four threads look while the main one writes (a row built with ThreadSanitizer). */
#include "vormesta/site.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifndef _WIN32
#include <pthread.h>
#endif

static int failed;
static const char* folder;

static void expect(int holds, const char* what) {
    if (!holds) {
        printf("FAILED: %s\n", what);
        failed = 1;
    }
}

/* The path of `name` in the folder; the last two stay valid. */
static char* at(const char* name) {
    static char paths[2][4096];
    static int next;
    next = !next;
    snprintf(paths[next], sizeof paths[next], "%s/%s", folder, name);
    return paths[next];
}

static void put(const char* name, const char* text) {
    FILE* file = fopen(at(name), "wb");
    expect(file && fputs(text, file) >= 0 && fclose(file) == 0, name);
}

static int serves(const char* path, const char* text) {
    const struct vormesta_file* file = site_find(path);
    return text ? file && file->size == strlen(text) && memcmp(file->data, text, file->size) == 0
                : !file;
}

/* How many times `text` stands in the file at `path`. */
static int times(const char* path, const char* text) {
    FILE* file = fopen(path, "rb");
    size_t length = strlen(text), have = 0;
    int c, found = 0;
    char* window = malloc(length);
    while (file && window && (c = getc(file)) != EOF) {
        if (have == length) {
            memmove(window, window + 1, length - 1);
            --have;
        }
        window[have++] = (char)c;
        found += have == length && memcmp(window, text, length) == 0;
    }
    if (file)
        fclose(file);
    free(window);
    return found;
}

static void as_built(void) {
    remove(at("b.txt"));
    remove(at("css/c.txt"));
    remove(at(".hidden"));
    remove(at("a.txt~"));
    put("a.txt", "one");
}

#ifndef _WIN32
/* Each look finds a.txt whole, as one of the versions written (empty between the truncation
   and the write). */
static void* reader(void* unused) {
    int i;
    (void)unused;
    for (i = 0; i < 3000; ++i) {
        const struct vormesta_file* file = site_find("a.txt");
        size_t count = 0;
        if (!file || !(file->size == 0 || (file->size == 3 && (memcmp(file->data, "one", 3) == 0 ||
                                                               memcmp(file->data, "two", 3) == 0))))
            return (void*)"a.txt torn";
        if (site_count() != 2 || !site_below("css", &count) || count != 1 || !site_at(1))
            return (void*)"the files miscounted";
    }
    return NULL;
}

static int with_threads(void) {
    pthread_t readers[4];
    int i;
    for (i = 0; i < 4; ++i)
        expect(pthread_create(&readers[i], NULL, reader, NULL) == 0, "a reader started");
    for (i = 0; i < 300; ++i)
        put("a.txt", i % 2 ? "two" : "one");
    for (i = 0; i < 4; ++i) {
        void* said = NULL;
        expect(pthread_join(readers[i], &said) == 0, "a reader ended");
        if (said)
            expect(0, (const char*)said);
    }
    as_built();
    if (!failed)
        printf("live_check: threads, all as expected\n");
    return failed;
}
#endif

int main(int argc, char** argv) {
    const struct vormesta_file* first;
    const char* etag;
    int live = argc == 3 && strcmp(argv[2], "live") == 0;
    size_t count = 0;
    char away[4096];
    if (argc != 3)
        return 2;
    folder = argv[1];
    as_built();
#ifndef _WIN32
    if (strcmp(argv[2], "threads") == 0)
        return with_threads();
#endif
    first = site_find("a.txt");
    expect(first && serves("a.txt", "one"), "a.txt as built");
    expect(site_count() == 2 && serves("drafts/d.txt", NULL), "two files, drafts left out");
    expect(first && first->encoding_count == 0 &&
               strcmp(first->type, "text/plain; charset=utf-8") == 0,
           "a.txt's type, no forms");
    expect((times(argv[0], folder) > 0) == live,
           "the folder's path in the program only where live");
    etag = first ? first->etag : NULL;

    put("a.txt", "two");
    expect(serves("a.txt", live ? "two" : "one"), "an edit of the same size");
    expect(memcmp(first->data, "one", 3) == 0, "the bytes handed out before stay");
    expect((strcmp(site_find("a.txt")->etag, etag) != 0) == live,
           "the validator follows the bytes");
    put("b.txt", "bee");
    expect(serves("b.txt", live ? "bee" : NULL), "a file added");
    expect(site_count() == (live ? 3u : 2u), "the count with it");
    remove(at("a.txt"));
    expect(serves("a.txt", live ? NULL : "one"), "a file removed");
    rename(at("b.txt"), at("css/c.txt"));
    expect(serves("b.txt", NULL) && serves("css/c.txt", live ? "bee" : NULL), "a file renamed");
    expect(site_below("css", &count) && count == (live ? 2u : 1u), "the folder it went to");
    expect(site_at(site_count()) == NULL && site_at(0) != NULL, "the first and past the last");
    put(".hidden", "x");
    put("a.txt~", "x");
    put("drafts/e.txt", "x");
    expect(serves(".hidden", NULL) && serves("a.txt~", NULL) && serves("drafts/e.txt", NULL),
           "hidden, litter and excluded files left out");
    remove(at("drafts/e.txt"));

    /* The folder gone: the embedded files, said once. */
    snprintf(away, sizeof away, "%s.away", folder);
    expect(rename(folder, away) == 0, "the folder moved away");
    expect(freopen("stderr.txt", "w", stderr) != NULL, "standard error kept");
    expect(serves("a.txt", "one") && serves("css/c.txt", NULL) && site_count() == 2,
           "the embedded files once the folder is gone");
    fclose(stderr);
    expect(rename(away, folder) == 0, "the folder moved back");
    expect(times("stderr.txt", "is gone; the files embedded at build time are served") == live,
           "the fallback said once");
    as_built();
    if (!failed)
        printf("live_check: %s, all as expected\n", live ? "live" : "embedded");
    return failed;
}
