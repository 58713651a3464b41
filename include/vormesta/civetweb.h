/* A library embedded by vormesta served by civetweb, in one call:
 *
 *     #include <civetweb.h>
 *     #include "vormesta/site.h"
 *     #include "vormesta/civetweb.h"
 *
 *     static struct vormesta_mount site = {site_count, site_at, "/", 0};
 *     vormesta_civetweb_mount(context, &site);
 *
 * Every request below the prefix is answered by vormesta_respond, its body written from where
 * the program holds it (no copy); a request body is left to civetweb, which drops what a
 * handler does not read. HTTP/1.1 without exactly one Host is answered 400.
 *
 * civetweb 1.15 gives a handler the path decoded, never as sent: the path is encoded again
 * (with the query) for the responder, so that a name holding '%', '?' or '#' is found, but an
 * encoded NUL has already ended it (/index.html%00.png is /index.html). */
#ifndef VORMESTA_CIVETWEB_H
#define VORMESTA_CIVETWEB_H
#include "vormesta/http.h"

#include <civetweb.h>
#include <string.h>

/* `path` percent-encoded where a target cannot carry its bytes as they are, then "?" and
 * `query` where there is one, in `out` of `size` bytes; its length, or 0 where it does not
 * fit. */
static inline size_t vormesta_civetweb_target(const char* path, const char* query, char* out,
                                              size_t size) {
    static const char hex[] = "0123456789ABCDEF";
    size_t length = 0;
    for (; *path; ++path) {
        unsigned char byte = VORMESTA_HTTP_CAST(unsigned char, *path);
        if (length + 4 > size)
            return 0;
        if (byte <= ' ' || byte >= 0x7f || byte == '%' || byte == '?' || byte == '#') {
            out[length++] = '%';
            out[length++] = hex[byte >> 4];
            out[length++] = hex[byte & 15];
        } else {
            out[length++] = *path;
        }
    }
    if (query) {
        size_t rest = strlen(query);
        if (length + 1 + rest >= size)
            return 0;
        out[length++] = '?';
        memcpy(out + length, query, rest);
        length += rest;
    }
    return length;
}

static inline int vormesta_civetweb_answer(struct mg_connection* connection, void* mount) {
    const struct mg_request_info* info = mg_get_request_info(connection);
    struct vormesta_request request;
    struct vormesta_response response;
    char target[8192];
    size_t i;
    size_t hosts = 0;
    for (i = 0; i < VORMESTA_HTTP_CAST(size_t, info->num_headers); ++i)
        hosts += mg_strcasecmp(info->http_headers[i].name, "Host") == 0;
    request.method = info->request_method;
    request.target = target;
    request.target_length = vormesta_civetweb_target(info->local_uri_raw ? info->local_uri_raw : "",
                                                     info->query_string, target, sizeof target);
    request.accept_encoding = mg_get_header(connection, "Accept-Encoding");
    request.if_none_match = mg_get_header(connection, "If-None-Match");
    request.range = mg_get_header(connection, "Range");
    request.if_range = mg_get_header(connection, "If-Range");
    if (!vormesta_refuse_hosts(&request, strcmp(info->http_version, "1.1") == 0, hosts, &response))
        vormesta_respond(VORMESTA_HTTP_CAST(const struct vormesta_mount*, mount), &request,
                         &response);
    mg_response_header_start(connection, response.status);
    for (i = 0; i < response.header_count; ++i)
        mg_response_header_add(connection, response.headers[i].name, response.headers[i].value, -1);
    if (response.status != 304) {
        char length[24];
        vormesta_http_decimal(length, response.body_size);
        mg_response_header_add(connection, "Content-Length", length, -1);
    }
    mg_response_header_send(connection);
    if (response.send_body && response.body_size > 0)
        mg_write(connection, response.body, response.body_size);
    return response.status;
}

/* Serves `mount` on civetweb's `context`: every request below its prefix. */
static inline void vormesta_civetweb_mount(struct mg_context* context,
                                           struct vormesta_mount* mount) {
    /* civetweb takes "/static" for itself and the paths below it, and keeps a copy */
    char prefix[1024] = "/";
    size_t length = mount->prefix ? strlen(mount->prefix) : 0;
    while (length > 0 && mount->prefix[length - 1] == '/')
        --length;
    if (length > 0 && length < sizeof prefix) {
        memcpy(prefix, mount->prefix, length);
        prefix[length] = '\0';
    }
    mg_set_request_handler(context, prefix, vormesta_civetweb_answer, mount);
}

#endif
