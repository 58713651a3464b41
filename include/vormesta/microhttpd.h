/* A library embedded by vormesta served by libmicrohttpd, in one call:
 *
 *     #include <microhttpd.h>
 *     #include "vormesta/site.h"
 *     #include "vormesta/microhttpd.h"
 *
 *     static struct vormesta_mount site = {site_count, site_at, "/", 0};
 *     daemon = vormesta_mhd_start(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO, port, &site,
 *                                 NULL);   (or an array of more options, MHD_OPTION_END last)
 *
 * Every request is answered by vormesta_respond from the target as it was sent (libmicrohttpd
 * decodes its own copy, where an encoded NUL would end the path), a request body is read and
 * dropped, and libmicrohttpd's strict parsing is on: HTTP/1.1 without a Host, or with two, is
 * answered 400. The bytes are sent from where the program holds them, with no copy. */
#ifndef VORMESTA_MICROHTTPD_H
#define VORMESTA_MICROHTTPD_H
#include "vormesta/http.h"

#include <microhttpd.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* What a request carries from its first line to its answer. */
struct vormesta_mhd_request {
    int started; /* whether the headers were seen: a body, if any, comes next */
    size_t length;
    char target[1]; /* as sent, `length` bytes */
};

/* The target as sent, kept before libmicrohttpd decodes it in place. */
static inline void* vormesta_mhd_keep_target(void* mount, const char* uri,
                                             struct MHD_Connection* connection) {
    size_t length = strlen(uri);
    struct vormesta_mhd_request* kept = VORMESTA_HTTP_CAST(
        struct vormesta_mhd_request*, malloc(sizeof(struct vormesta_mhd_request) + length));
    (void)mount, (void)connection;
    if (kept) {
        kept->started = 0;
        kept->length = length;
        memcpy(kept->target, uri, length + 1);
    }
    return kept;
}

static inline void vormesta_mhd_completed(void* mount, struct MHD_Connection* connection,
                                          void** state, enum MHD_RequestTerminationCode code) {
    (void)mount, (void)connection, (void)code;
    free(*state);
    *state = VORMESTA_NULL;
}

static inline enum MHD_Result vormesta_mhd_count_host(void* count, enum MHD_ValueKind kind,
                                                      const char* key, const char* value) {
    (void)kind, (void)value;
    if ((key[0] | 32) == 'h' && (key[1] | 32) == 'o' && (key[2] | 32) == 's' &&
        (key[3] | 32) == 't' && key[4] == '\0')
        ++*VORMESTA_HTTP_CAST(size_t*, count);
    return MHD_YES;
}

static inline enum MHD_Result vormesta_mhd_send(struct MHD_Connection* connection,
                                                const struct vormesta_response* answer) {
    /* libmicrohttpd sends no body for HEAD itself, with the Content-Length of a GET */
    size_t size = answer->status == 304 ? 0 : answer->body_size;
    struct MHD_Response* response = MHD_create_response_from_buffer(
        size, VORMESTA_HTTP_CAST(void*, VORMESTA_HTTP_CAST(uintptr_t, answer->body)),
        MHD_RESPMEM_PERSISTENT);
    enum MHD_Result queued;
    size_t i;
    if (!response)
        return MHD_NO;
    for (i = 0; i < answer->header_count; ++i)
        MHD_add_response_header(response, answer->headers[i].name, answer->headers[i].value);
    queued =
        MHD_queue_response(connection, VORMESTA_HTTP_CAST(unsigned int, answer->status), response);
    MHD_destroy_response(response);
    return queued;
}

static inline const char* vormesta_mhd_header(struct MHD_Connection* connection, const char* name) {
    return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
}

/* The access handler: answers once the request, body and all, has been read. */
static inline enum MHD_Result vormesta_mhd_answer(void* mount, struct MHD_Connection* connection,
                                                  const char* url, const char* method,
                                                  const char* version, const char* upload,
                                                  size_t* upload_size, void** state) {
    struct vormesta_mhd_request* kept = VORMESTA_HTTP_CAST(struct vormesta_mhd_request*, *state);
    struct vormesta_request request;
    struct vormesta_response response;
    size_t hosts = 0;
    (void)url, (void)upload;
    if (!kept)
        return MHD_NO; /* out of memory: the connection is closed */
    if (!kept->started || *upload_size > 0) {
        kept->started = 1;
        *upload_size = 0;
        return MHD_YES;
    }
    MHD_get_connection_values(connection, MHD_HEADER_KIND, vormesta_mhd_count_host, &hosts);
    request.method = method;
    request.target = kept->target;
    request.target_length = kept->length;
    request.accept_encoding = vormesta_mhd_header(connection, MHD_HTTP_HEADER_ACCEPT_ENCODING);
    request.if_none_match = vormesta_mhd_header(connection, MHD_HTTP_HEADER_IF_NONE_MATCH);
    request.range = vormesta_mhd_header(connection, MHD_HTTP_HEADER_RANGE);
    request.if_range = vormesta_mhd_header(connection, MHD_HTTP_HEADER_IF_RANGE);
    if (!vormesta_refuse_hosts(&request, strcmp(version, MHD_HTTP_VERSION_1_1) == 0, hosts,
                               &response))
        vormesta_respond(VORMESTA_HTTP_CAST(const struct vormesta_mount*, mount), &request,
                         &response);
    return vormesta_mhd_send(connection, &response);
}

/* Starts libmicrohttpd serving `mount` and nothing else, with `flags` and the port, and the
 * options of `more` (an array ending with MHD_OPTION_END, or null). */
static inline struct MHD_Daemon* vormesta_mhd_start(unsigned int flags, uint16_t port,
                                                    struct vormesta_mount* mount,
                                                    struct MHD_OptionItem* more) {
    static struct MHD_OptionItem none[] = {{MHD_OPTION_END, 0, VORMESTA_NULL}};
    return MHD_start_daemon(flags, port, VORMESTA_NULL, VORMESTA_NULL, vormesta_mhd_answer, mount,
                            MHD_OPTION_URI_LOG_CALLBACK, vormesta_mhd_keep_target, mount,
                            MHD_OPTION_NOTIFY_COMPLETED, vormesta_mhd_completed, mount,
                            MHD_OPTION_STRICT_FOR_CLIENT, 1, MHD_OPTION_ARRAY, more ? more : none,
                            MHD_OPTION_END);
}

#endif
