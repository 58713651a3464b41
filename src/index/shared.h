#if defined(VORMESTA_FILE_DEFINED) && !defined(VORMESTA_LAYOUT)
#error "vormesta: a library made by an older vormesta is included first; make all with one vormesta"
#endif
#ifndef VORMESTA_LAYOUT
#define VORMESTA_LAYOUT 2
#define VORMESTA_FILE_DEFINED
/* A compressed form of a file, for HTTP's Content-Encoding. */
struct vormesta_encoding {
    const char* name; /* the content coding: "gzip", "br" or "zstd" */
    const unsigned char* data;
    size_t size;
    const char* etag; /* its own strong validator, quotes included */
};
struct vormesta_file {
    const char* path;          /* below the base, '/' between folders */
    const unsigned char* data; /* never null, even for an empty file */
    size_t size;               /* a text file's NUL not counted */
    const char* type; /* the media type by the extension; "; charset=utf-8" for UTF-8 text */
    const char* etag; /* a strong validator of the bytes, quotes included; null unless asked */
    const struct vormesta_encoding* encodings; /* smallest first, each smaller than the bytes */
    size_t encoding_count;
};
#elif VORMESTA_LAYOUT != 2
#error "vormesta: libraries of two index layouts in one program; make all with one vormesta"
#endif
/* The null pointer a strict C++ build takes without a warning. */
#ifndef VORMESTA_NULL
#if defined(__cplusplus) && __cplusplus >= 201103L
#define VORMESTA_NULL nullptr
#else
#define VORMESTA_NULL NULL
#endif
#endif
#if (defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)) &&        \
    !defined(VORMESTA_NEGOTIATE_DEFINED)
#define VORMESTA_NEGOTIATE_DEFINED
/* Whether a weight (after "q=") is above 0, by qvalue's grammar; a malformed one is not. */
static inline int vormesta_weight_above_zero(const char* at) {
    int digits = 0, above = *at == '1';
    if (*at != '0' && *at != '1')
        return 0;
    if (*++at == '.')
        for (++at; *at >= '0' && *at <= '9' && digits < 3; ++at, ++digits)
            above |= *at != '0';
    return above && (!*at || *at == ',' || *at == ';' || *at == ' ' || *at == '\t');
}
/* Whether the Accept-Encoding value `accept` takes the coding `name` (RFC 9110, 12.5.3): named
 * in any case with a weight above 0, or, where it is not named, through "*". */
static inline int vormesta_accepts(const char* accept, const char* name) {
    int named = -1, any = -1;
    while (*accept) {
        const char* token;
        size_t length = 0, i;
        int above = 1, same;
        while (*accept == ' ' || *accept == '\t' || *accept == ',')
            ++accept;
        for (token = accept;
             *accept && *accept != ',' && *accept != ';' && *accept != ' ' && *accept != '\t';
             ++accept)
            ++length;
        for (; *accept && *accept != ','; ++accept)
            if (*accept == ';') {
                while (accept[1] == ' ' || accept[1] == '\t')
                    ++accept;
                if ((accept[1] == 'q' || accept[1] == 'Q') && accept[2] == '=')
                    above = vormesta_weight_above_zero(accept + 3);
            }
        if (length == 0)
            continue;
        if (length == 1 && *token == '*') {
            any = any > 0 ? any : above;
            continue;
        }
        if (length == 6 && (token[0] | 32) == 'x' && token[1] == '-') { /* x-gzip is gzip */
            token += 2;
            length -= 2;
        }
        for (same = 1, i = 0; i < length && same; ++i)
            same = name[i] && (token[i] | 32) == name[i];
        if (same && !name[length])
            named = named > 0 ? named : above;
    }
    return named >= 0 ? named : any > 0;
}
/* The smallest form of `file` that a request's Accept-Encoding value takes, or null: send the
 * bytes as they are (with no header, or one that takes no form). */
static inline const struct vormesta_encoding* vormesta_negotiate(const struct vormesta_file* file,
                                                                 const char* accept_encoding) {
    size_t i;
    if (!file || !accept_encoding)
        return VORMESTA_NULL;
    for (i = 0; i < file->encoding_count; ++i)
        if (vormesta_accepts(accept_encoding, file->encodings[i].name))
            return &file->encodings[i];
    return VORMESTA_NULL;
}
#endif
