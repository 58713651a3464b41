/* HTTP answers from a library of files embedded by vormesta, for any server: GET and HEAD, the
 * folder's index.html, the smallest form the client takes, 304 for a matching If-None-Match,
 * one byte range, 404 (with the library's 404.html), 405 and 400. It allocates nothing, does no
 * I/O and copies no byte of a file: the body is a pointer into the embedded bytes.
 *
 * Include a library's header first, then this one (C99, or C++):
 *
 *     struct vormesta_mount site = {site_count, site_at, "/", 0};
 *     struct vormesta_request request = {0};
 *     struct vormesta_response response;
 *     request.method = "GET";
 *     request.target = target;            (as on the request line)
 *     request.target_length = strlen(target);
 *     request.accept_encoding = ...;      (the header's value, or null where it has none)
 *     vormesta_respond(&site, &request, &response);
 *
 * then send response.status, its headers and, where send_body says so, body_size bytes from
 * body. Content-Length is body_size (on HEAD too: what a GET would send), except on a 304. */
#ifndef VORMESTA_HTTP_H
#define VORMESTA_HTTP_H
#ifndef VORMESTA_FILE_DEFINED
#error "vormesta/http.h: include a library's header (vormesta/<library>.h) before this one"
#endif
#if !defined(__cplusplus) && !(defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#error "vormesta/http.h needs C99 or C++"
#endif
#include <stddef.h>

#ifdef __cplusplus
#define VORMESTA_HTTP_CAST(type, value) static_cast<type>(value)
#else
#define VORMESTA_HTTP_CAST(type, value) ((type)(value))
#endif

/* A library served at a prefix: reached as its index reaches it, <name>_count and <name>_at. */
struct vormesta_mount {
    size_t (*count)(void);
    const struct vormesta_file* (*at)(size_t);
    const char* prefix; /* "/", or a folder of the site such as "/static/"; null is "/" */
    unsigned options;   /* VORMESTA_SINGLE_PAGE, or 0 */
};

/* A path with no extension that is not in the library is answered with its index.html (200),
 * as a single-page application routes in the browser. */
#define VORMESTA_SINGLE_PAGE 1u

struct vormesta_request {
    const char* method; /* "GET", "HEAD", ... (case matters) */
    /* For vormesta_respond: as on the request line, percent-encoded, query included, origin-form
     * ("/a/b?q") or absolute-form ("http://host/a/b"). For vormesta_respond_decoded: the path
     * already percent-decoded by the server, with no query. */
    const char* target;
    size_t target_length;
    /* Each header's value as received, or null where the request has none. */
    const char* accept_encoding;
    const char* if_none_match;
    const char* range;
    const char* if_range;
};

struct vormesta_header {
    const char* name;
    const char* value;
};

struct vormesta_response {
    int status; /* 200, 206, 301, 304, 400, 404, 405 or 416 */
    const char* reason;
    const struct vormesta_file* file;  /* the file the answer is of, or null */
    const unsigned char* body;         /* never null */
    size_t body_size;                  /* the Content-Length, but on a 304 */
    int send_body;                     /* 0 for HEAD and 304: the headers alone */
    struct vormesta_header headers[8]; /* Content-Length left to the server */
    size_t header_count;
    /* Room the headers' values are written into. */
    char content_range[72];
    char location[4096];
};

/* The parts of a request target a server looks at, found in one pass. */
struct vormesta_http_target {
    const char* path; /* from its first '/' */
    const char* path_end;
    const char* query; /* "?..." or empty */
    const char* query_end;
    int encoded; /* whether the path is percent-encoded */
};

static inline int vormesta_http_hex(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/* The next byte of a path and where the one after it starts, with its percent escape decoded
 * where the path is encoded; -1 past the end. */
static inline int vormesta_http_byte(const struct vormesta_http_target* target, const char** at) {
    const char* here = *at;
    if (here >= target->path_end)
        return -1;
    if (target->encoded && *here == '%') {
        *at = here + 3;
        return vormesta_http_hex(here[1]) * 16 + vormesta_http_hex(here[2]);
    }
    *at = here + 1;
    return VORMESTA_HTTP_CAST(unsigned char, *here);
}

/* Splits a target and refuses (0) what could name no file safely: a target that is neither
 * origin-form nor absolute-form, a bad or NUL escape, a control byte (in the query too), a
 * backslash, a ".." segment (also written "%2e%2e", or with "%2f" for its slash). */
static inline int vormesta_http_split(const char* text, size_t length, int encoded,
                                      struct vormesta_http_target* target) {
    const char* end = text + length;
    const char* at;
    size_t segment = 0;
    int dots = 1;
    int root = 0; /* "http://host" or "http://host?q" */
    if (encoded && length > 7) {
        /* absolute-form: a scheme, "://", an authority, then the path */
        const char* colon = text;
        while (colon < end && *colon != ':' && *colon != '/')
            ++colon;
        if (colon > text && end - colon > 2 && colon[0] == ':' && colon[1] == '/' &&
            colon[2] == '/') {
            text = colon + 3;
            while (text < end && *text != '/' && *text != '?' && *text != '#')
                ++text;
            root = text == end || *text == '?';
        }
    }
    if (!root && (text == end || *text != '/'))
        return 0;
    target->encoded = encoded;
    target->path = root ? "/" : text;
    for (at = text; !root && at < end && !(encoded && (*at == '?' || *at == '#')); ++at) {
    }
    target->path_end = root ? target->path + 1 : at;
    target->query = at;
    for (target->query_end = at; target->query_end < end && *target->query_end != '#';)
        ++target->query_end;
    if (target->query < target->query_end && *target->query != '?')
        target->query_end = target->query; /* a fragment alone */
    /* The query goes into a Location as it is: no control byte, which could end the header. */
    for (at = target->query; at < target->query_end; ++at)
        if (VORMESTA_HTTP_CAST(unsigned char, *at) < 0x20 || *at == 0x7f)
            return 0;
    for (at = target->path; at < target->path_end;) {
        int byte;
        if (encoded && *at == '%' &&
            (target->path_end - at < 3 || vormesta_http_hex(at[1]) < 0 ||
             vormesta_http_hex(at[2]) < 0))
            return 0;
        byte = vormesta_http_byte(target, &at);
        if (byte == '\\' || byte < 0x20 || byte == 0x7f)
            return 0;
        if (byte == '/') {
            if (segment == 2 && dots)
                return 0;
            segment = 0;
            dots = 1;
            continue;
        }
        ++segment;
        dots = dots && byte == '.';
    }
    return !(segment == 2 && dots);
}

/* How the path of `target` (after its first '/'), followed by `suffix`, sorts against `path`. */
static inline int vormesta_http_compare(const struct vormesta_http_target* target,
                                        const char* suffix, const char* path) {
    const char* at = target->path + 1;
    for (;; ++path) {
        int byte = vormesta_http_byte(target, &at);
        if (byte < 0)
            byte = *suffix ? VORMESTA_HTTP_CAST(unsigned char, *suffix++) : -1;
        if (byte < 0)
            return *path ? -1 : 0;
        if (byte != VORMESTA_HTTP_CAST(unsigned char, *path))
            return byte - VORMESTA_HTTP_CAST(unsigned char, *path);
    }
}

/* The file at the target's path followed by `suffix`, or null: a binary search of the sorted
 * files, decoding as it compares. */
static inline const struct vormesta_file*
vormesta_http_find(const struct vormesta_mount* library, const struct vormesta_http_target* target,
                   const char* suffix) {
    size_t first = 0, count = library->count();
    while (count > 0) {
        size_t half = count / 2;
        const struct vormesta_file* file = library->at(first + half);
        int order = vormesta_http_compare(target, suffix, file->path);
        if (order == 0)
            return file;
        if (order > 0) {
            first += half + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return VORMESTA_NULL;
}

static inline const struct vormesta_file*
vormesta_http_find_path(const struct vormesta_mount* library, const char* path) {
    struct vormesta_http_target target;
    target.path = "/";
    target.path_end = target.path + 1;
    target.encoded = 0;
    return vormesta_http_find(library, &target, path);
}

static inline const char* vormesta_http_skip_space(const char* at) {
    while (*at == ' ' || *at == '\t')
        ++at;
    return at;
}

/* The end of the entity tag at `at` ("..." or W/"..."), or null where none starts there. */
static inline const char* vormesta_http_tag_end(const char* at) {
    if (at[0] == 'W' && at[1] == '/')
        at += 2;
    if (*at != '"')
        return VORMESTA_NULL;
    for (++at; *at && *at != '"'; ++at) {
    }
    return *at == '"' ? at + 1 : VORMESTA_NULL;
}

/* Whether entity tags `a` (ending at a_end) and `b` (ending at b_end) are one: weakly, or
 * strongly (both without W/). */
static inline int vormesta_http_same_tag(const char* a, const char* a_end, const char* b,
                                         const char* b_end, int strong) {
    int weak_a = a[0] == 'W', weak_b = b[0] == 'W';
    if (strong && (weak_a || weak_b))
        return 0;
    a += weak_a ? 2 : 0;
    b += weak_b ? 2 : 0;
    if (a_end - a != b_end - b)
        return 0;
    for (; a < a_end; ++a, ++b)
        if (*a != *b)
            return 0;
    return 1;
}

/* Whether an If-None-Match value matches `tag` (RFC 9110, 13.1.2): "*", or a list of entity
 * tags, by the weak comparison. A malformed list matches nothing. */
static inline int vormesta_http_none_match(const char* header, const char* tag) {
    const char* at = vormesta_http_skip_space(header);
    if (*at == '*')
        return *vormesta_http_skip_space(at + 1) == '\0';
    if (!tag)
        return 0;
    for (;;) {
        const char* end;
        while (*at == ',' || *at == ' ' || *at == '\t')
            ++at;
        if (!*at)
            return 0;
        end = vormesta_http_tag_end(at);
        if (!end)
            return 0;
        if (vormesta_http_same_tag(at, end, tag, vormesta_http_tag_end(tag), 0))
            return 1;
        at = vormesta_http_skip_space(end);
        if (*at && *at != ',')
            return 0;
    }
}

/* A decimal number at *at, moved past: 1, or 0 where there is none or it is past `limit`. */
static inline int vormesta_http_number(const char** at, size_t limit, size_t* value) {
    const char* start = *at;
    *value = 0;
    for (; **at >= '0' && **at <= '9'; ++*at) {
        size_t digit = VORMESTA_HTTP_CAST(size_t, **at - '0');
        if (*value > (limit - digit) / 10)
            return 0;
        *value = *value * 10 + digit;
    }
    return *at > start;
}

/* A Range value of one byte range of `size` bytes: 1 with its first and last byte, 0 where
 * none is satisfiable (416), -1 where the header is to be ignored (malformed, another unit,
 * several ranges: the whole is sent). */
static inline int vormesta_http_range(const char* header, size_t size, size_t* first,
                                      size_t* last) {
    const char* at = vormesta_http_skip_space(header);
    const char* unit = "bytes=";
    const size_t most = VORMESTA_HTTP_CAST(size_t, -1);
    size_t from = 0, to = most;
    int has_from, has_to = 0;
    for (; *unit; ++unit, ++at)
        if ((*at | 32) != *unit) /* "bytes" in any case */
            return -1;
    at = vormesta_http_skip_space(at);
    has_from = *at >= '0' && *at <= '9';
    /* a first byte past what size_t holds is past the end; a last one is clamped */
    if (has_from && !vormesta_http_number(&at, most, &from))
        return 0;
    if (*at++ != '-')
        return -1;
    if (*at >= '0' && *at <= '9') {
        has_to = 1;
        if (!vormesta_http_number(&at, most, &to)) {
            to = most;
            while (*at >= '0' && *at <= '9')
                ++at;
        }
    }
    if (*vormesta_http_skip_space(at) != '\0' || (!has_from && !has_to) || (has_from && to < from))
        return -1;
    if (!has_from) { /* the last `to` bytes */
        if (to == 0 || size == 0)
            return 0;
        *first = to >= size ? 0 : size - to;
        *last = size - 1;
        return 1;
    }
    if (from >= size)
        return 0;
    *first = from;
    *last = to >= size ? size - 1 : to;
    return 1;
}

/* `text` at `out`; the end. */
static inline char* vormesta_http_copy(char* out, const char* text) {
    while (*text)
        *out++ = *text++;
    *out = '\0';
    return out;
}

/* `value` in decimal at `out`; the end. */
static inline char* vormesta_http_decimal(char* out, size_t value) {
    char digits[24];
    int count = 0;
    do {
        digits[count++] = VORMESTA_HTTP_CAST(char, '0' + VORMESTA_HTTP_CAST(int, value % 10));
        value /= 10;
    } while (value > 0);
    while (count > 0)
        *out++ = digits[--count];
    *out = '\0';
    return out;
}

static inline void vormesta_http_header(struct vormesta_response* response, const char* name,
                                        const char* value) {
    response->headers[response->header_count].name = name;
    response->headers[response->header_count].value = value;
    ++response->header_count;
}

static inline void vormesta_http_status(struct vormesta_response* response, int status,
                                        const char* reason) {
    response->status = status;
    response->reason = reason;
}

/* An answer with no file: its reason as plain text. */
static inline void vormesta_http_plain(struct vormesta_response* response, int status,
                                       const char* reason, const char* text, size_t size) {
    vormesta_http_status(response, status, reason);
    response->body =
        VORMESTA_HTTP_CAST(const unsigned char*, VORMESTA_HTTP_CAST(const void*, text));
    response->body_size = size;
    vormesta_http_header(response, "Content-Type", "text/plain; charset=utf-8");
}

#define VORMESTA_HTTP_PLAIN(response, status, reason)                                              \
    vormesta_http_plain(response, status, reason, #status " " reason "\n",                         \
                        sizeof(#status " " reason "\n") - 1)

/* The answer for file `file`, found for the request: 200 (or `status`, for a 404.html), 206,
 * 304 or 416. */
static inline void vormesta_http_file(const struct vormesta_file* file, int status,
                                      const struct vormesta_request* request,
                                      struct vormesta_response* response) {
    const struct vormesta_encoding* form = vormesta_negotiate(file, request->accept_encoding);
    const char* etag = form ? form->etag : file->etag;
    size_t first = 0, last = 0;
    int ranged = -1;
    response->file = file;
    if (file->encoding_count > 0)
        vormesta_http_header(response, "Vary", "Accept-Encoding");
    if (status == 200 && request->if_none_match &&
        vormesta_http_none_match(request->if_none_match, etag)) {
        vormesta_http_status(response, 304, "Not Modified");
        if (etag)
            vormesta_http_header(response, "ETag", etag);
        response->send_body = 0;
        return;
    }
    /* A range is of the bytes as they are (RFC 9110, 14), kept by If-Range only where it is
     * the bytes' strong validator. */
    if (status == 200 && request->range && request->method[0] == 'G') {
        const char* tag_end =
            request->if_range ? vormesta_http_tag_end(request->if_range) : VORMESTA_NULL;
        if (!request->if_range ||
            (tag_end && file->etag && *vormesta_http_skip_space(tag_end) == '\0' &&
             vormesta_http_same_tag(request->if_range, tag_end, file->etag,
                                    vormesta_http_tag_end(file->etag), 1)))
            ranged = vormesta_http_range(request->range, file->size, &first, &last);
    }
    if (ranged == 0) {
        VORMESTA_HTTP_PLAIN(response, 416, "Range Not Satisfiable");
        vormesta_http_decimal(vormesta_http_copy(response->content_range, "bytes */"), file->size);
        vormesta_http_header(response, "Content-Range", response->content_range);
        response->file = file;
        return;
    }
    vormesta_http_status(response, status, status == 200 ? "OK" : "Not Found");
    vormesta_http_header(response, "Content-Type", file->type);
    if (status == 200)
        vormesta_http_header(response, "Accept-Ranges", "bytes");
    if (ranged == 1) {
        char* out =
            vormesta_http_decimal(vormesta_http_copy(response->content_range, "bytes "), first);
        *out++ = '-';
        out = vormesta_http_decimal(out, last);
        *out++ = '/';
        vormesta_http_decimal(out, file->size);
        vormesta_http_status(response, 206, "Partial Content");
        vormesta_http_header(response, "Content-Range", response->content_range);
        if (file->etag)
            vormesta_http_header(response, "ETag", file->etag);
        response->body = file->data + first;
        response->body_size = last - first + 1;
        return;
    }
    if (etag && status == 200)
        vormesta_http_header(response, "ETag", etag);
    if (form)
        vormesta_http_header(response, "Content-Encoding", form->name);
    response->body = form ? form->data : file->data;
    response->body_size = form ? form->size : file->size;
}

/* The Location of a folder asked for without its slash: its last segment, a slash and the
 * query, relative to the target (RFC 9110, 10.2.2); the query left out where it does not fit. */
static inline void vormesta_http_redirect(const struct vormesta_http_target* target,
                                          struct vormesta_response* response) {
    const char* segment = target->path_end;
    size_t length, query = VORMESTA_HTTP_CAST(size_t, target->query_end - target->query), i;
    char* out = response->location;
    while (segment[-1] != '/')
        --segment;
    length = VORMESTA_HTTP_CAST(size_t, target->path_end - segment);
    VORMESTA_HTTP_PLAIN(response, 301, "Moved Permanently");
    if (length + 2 > sizeof response->location) {
        VORMESTA_HTTP_PLAIN(response, 404, "Not Found");
        return;
    }
    for (i = 0; i < length; ++i) {
        /* a decoded path's bytes that a URI does not carry as they are */
        unsigned char byte = VORMESTA_HTTP_CAST(unsigned char, segment[i]);
        if (!target->encoded && (byte <= ' ' || byte >= 0x7f || byte == '%' || byte == '?' ||
                                 byte == '#' || byte == '"')) {
            if (VORMESTA_HTTP_CAST(size_t, out - response->location) + 3 + length - i + 1 >=
                sizeof response->location) {
                VORMESTA_HTTP_PLAIN(response, 404, "Not Found");
                return;
            }
            *out++ = '%';
            *out++ = "0123456789ABCDEF"[byte >> 4];
            *out++ = "0123456789ABCDEF"[byte & 15];
        } else {
            *out++ = segment[i];
        }
    }
    *out++ = '/';
    if (VORMESTA_HTTP_CAST(size_t, out - response->location) + query < sizeof response->location)
        for (i = 0; i < query; ++i)
            *out++ = target->query[i];
    *out = '\0';
    vormesta_http_header(response, "Location", response->location);
}

/* Moves the target's path past the mount's prefix: 1 where it lies below it, 0 where not, -1
 * where it is the prefix without its slash. */
static inline int vormesta_http_below(const char* prefix, struct vormesta_http_target* target) {
    const char* at = target->path;
    const char* end = prefix;
    while (*end)
        ++end;
    while (end > prefix && end[-1] == '/')
        --end;
    for (; prefix < end; ++prefix)
        if (vormesta_http_byte(target, &at) != VORMESTA_HTTP_CAST(unsigned char, *prefix))
            return 0;
    if (at == target->path_end)
        return -1;
    if (*at != '/')
        return 0;
    target->path = at;
    return 1;
}

/* Whether `text` is `word`. */
static inline int vormesta_http_is(const char* text, const char* word) {
    for (; *word && *text == *word; ++word)
        ++text;
    return *text == *word;
}

/* An answer with nothing in it yet. */
static inline void vormesta_http_begin(struct vormesta_response* response, int send_body) {
    response->file = VORMESTA_NULL;
    response->body = VORMESTA_HTTP_CAST(const unsigned char*, VORMESTA_HTTP_CAST(const void*, ""));
    response->body_size = 0;
    response->send_body = send_body;
    response->header_count = 0;
    response->content_range[0] = '\0';
    response->location[0] = '\0';
}

static inline void vormesta_http_answer(const struct vormesta_mount* library,
                                        const struct vormesta_request* request, int encoded,
                                        struct vormesta_response* response) {
    struct vormesta_http_target target;
    const struct vormesta_file* file;
    const char* method = request->method ? request->method : "";
    const char* last;
    const int head = vormesta_http_is(method, "HEAD");
    int below;
    vormesta_http_begin(response, !head);
    if (!head && !vormesta_http_is(method, "GET")) {
        VORMESTA_HTTP_PLAIN(response, 405, "Method Not Allowed");
        vormesta_http_header(response, "Allow", "GET, HEAD");
        return;
    }
    if (!request->target ||
        !vormesta_http_split(request->target, request->target_length, encoded, &target)) {
        VORMESTA_HTTP_PLAIN(response, 400, "Bad Request");
        return;
    }
    below = vormesta_http_below(library->prefix ? library->prefix : "", &target);
    if (below <= 0) {
        if (below < 0 && vormesta_http_find_path(library, "index.html"))
            vormesta_http_redirect(&target, response);
        else
            VORMESTA_HTTP_PLAIN(response, 404, "Not Found");
        return;
    }
    if (target.path_end[-1] == '/') {
        file = vormesta_http_find(library, &target, "index.html");
    } else {
        file = vormesta_http_find(library, &target, "");
        if (!file && vormesta_http_find(library, &target, "/index.html")) {
            vormesta_http_redirect(&target, response);
            return;
        }
    }
    if (file) {
        vormesta_http_file(file, 200, request, response);
        return;
    }
    /* Not there: index.html for an application's own route, or the library's 404.html. */
    for (last = target.path_end; last[-1] != '/' && last[-1] != '.';)
        --last;
    if ((library->options & VORMESTA_SINGLE_PAGE) && last[-1] == '/' &&
        (file = vormesta_http_find_path(library, "index.html")) != VORMESTA_NULL) {
        vormesta_http_file(file, 200, request, response);
        return;
    }
    file = vormesta_http_find_path(library, "404.html");
    if (file)
        vormesta_http_file(file, 404, request, response);
    else
        VORMESTA_HTTP_PLAIN(response, 404, "Not Found");
}

/* The answer to `request`, whose target is as on the request line. */
static inline void vormesta_respond(const struct vormesta_mount* library,
                                    const struct vormesta_request* request,
                                    struct vormesta_response* response) {
    vormesta_http_answer(library, request, 1, response);
}

/* The same, for a server that gives the path percent-decoded (and the query apart). */
static inline void vormesta_respond_decoded(const struct vormesta_mount* library,
                                            const struct vormesta_request* request,
                                            struct vormesta_response* response) {
    vormesta_http_answer(library, request, 0, response);
}

/* A request of HTTP/1.1 (`http_1_1`) carries exactly one Host line, one of HTTP/1.0 at most one
 * (RFC 9112, 3.2). Where its `hosts` lines break that, `response` is the 400 to send (its
 * headers alone for HEAD), and 1 is returned; else 0, and the request is the responder's. */
static inline int vormesta_refuse_hosts(const struct vormesta_request* request, int http_1_1,
                                        size_t hosts, struct vormesta_response* response) {
    const char* method = request->method ? request->method : "";
    if (hosts == 1 || (hosts == 0 && !http_1_1))
        return 0;
    vormesta_http_begin(response, !vormesta_http_is(method, "HEAD"));
    VORMESTA_HTTP_PLAIN(response, 400, "Bad Request");
    return 1;
}

#endif
