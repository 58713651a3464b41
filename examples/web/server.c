/* A web server whose whole site is in the program: the files of site/, embedded by vormesta with
 * their media types, validators and gzip and brotli forms made at build time. GET and HEAD;
 * "/" is index.html; the smallest form the client accepts, with Vary; 304 for a matching
 * If-None-Match. It links libmicrohttpd alone: no compression library.
 *
 * usage: web_server PORT   (on 127.0.0.1; 0 takes a free port, which it prints) */
#include <arpa/inet.h>
#include <microhttpd.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vormesta/site.h"

/* Whether `tag` is among the entity tags of an If-None-Match value, by the weak comparison
 * (RFC 9110, 13.1.2): "*", or the same opaque tag with or without W/. */
static int none_match(const char* header, const char* tag) {
    size_t length = strlen(tag);
    while (header && *header) {
        while (*header == ' ' || *header == '\t' || *header == ',')
            ++header;
        if (*header == '*')
            return 1;
        if (header[0] == 'W' && header[1] == '/')
            header += 2;
        if (strncmp(header, tag, length) == 0 &&
            (header[length] == '\0' || header[length] == ',' || header[length] == ' ' ||
             header[length] == '\t'))
            return 1;
        header = strchr(header, ',');
    }
    return 0;
}

/* A response of bytes the program holds for as long as it runs. */
static struct MHD_Response* bytes(const unsigned char* data, size_t size) {
    return MHD_create_response_from_buffer(size, (void*)data, MHD_RESPMEM_PERSISTENT);
}

static enum MHD_Result send_status(struct MHD_Connection* connection, unsigned int status,
                                   const char* text) {
    struct MHD_Response* response = bytes((const unsigned char*)text, strlen(text));
    enum MHD_Result queued;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

/* Whether a path (percent-decoded) steps out of the site: a ".." part. */
static int climbs(const char* path) {
    const char* part = path;
    for (;;) {
        const char* end = strchr(part, '/');
        size_t length = end ? (size_t)(end - part) : strlen(part);
        if (length == 2 && part[0] == '.' && part[1] == '.')
            return 1;
        if (!end)
            return 0;
        part = end + 1;
    }
}

static enum MHD_Result answer(void* unused, struct MHD_Connection* connection, const char* url,
                              const char* method, const char* version, const char* upload,
                              size_t* upload_size, void** state) {
    char path[4096];
    const struct vormesta_file* file;
    const struct vormesta_encoding* form;
    const char* etag;
    struct MHD_Response* response;
    unsigned int status = MHD_HTTP_OK;
    enum MHD_Result queued;
    static int started;
    (void)unused, (void)version, (void)upload, (void)upload_size;
    /* The first call has the headers alone: answering then would close the connection, as the
     * request might have a body still to come. */
    if (!*state) {
        *state = &started;
        return MHD_YES;
    }
    if (strcmp(method, MHD_HTTP_METHOD_GET) != 0 && strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return send_status(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "405 Method Not Allowed\n");
    /* libmicrohttpd gives the path percent-decoded: names with spaces and accents are found. */
    while (*url == '/')
        ++url;
    if (climbs(url))
        return send_status(connection, MHD_HTTP_BAD_REQUEST, "400 Bad Request\n");
    if (strlen(url) + sizeof "index.html" > sizeof path)
        return send_status(connection, MHD_HTTP_NOT_FOUND, "404 Not Found\n");
    strcpy(path, url);
    if (path[0] == '\0' || path[strlen(path) - 1] == '/')
        strcat(path, "index.html");
    file = site_find(path);
    if (!file)
        return send_status(connection, MHD_HTTP_NOT_FOUND, "404 Not Found\n");
    form = vormesta_negotiate(file, MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                                MHD_HTTP_HEADER_ACCEPT_ENCODING));
    etag = form ? form->etag : file->etag;
    if (none_match(MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                               MHD_HTTP_HEADER_IF_NONE_MATCH),
                   etag)) {
        status = MHD_HTTP_NOT_MODIFIED;
        response = bytes((const unsigned char*)"", 0);
    } else {
        response = form ? bytes(form->data, form->size) : bytes(file->data, file->size);
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, file->type);
        if (form)
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_ENCODING, form->name);
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_ETAG, etag);
    if (file->encoding_count > 0)
        MHD_add_response_header(response, MHD_HTTP_HEADER_VARY, MHD_HTTP_HEADER_ACCEPT_ENCODING);
    queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

int main(int argc, char** argv) {
    struct sockaddr_in address;
    struct MHD_Daemon* daemon;
    const union MHD_DaemonInfo* info;
    sigset_t stops;
    int stop;
    char* end;
    long port = argc == 2 ? strtol(argv[1], &end, 10) : -1;
    if (argc != 2 || *end != '\0' || port < 0 || port > 65535) {
        fputs("usage: web_server PORT   (on 127.0.0.1; 0 takes a free port)\n", stderr);
        return 2;
    }
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((unsigned short)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    /* SIGINT and SIGTERM end it, taken by sigwait below on this thread alone. */
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, NULL);
    /* One thread serving every connection, as an event loop: epoll where there is one. */
    daemon = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_USE_ERROR_LOG,
                              (uint16_t)port, NULL, NULL, answer, NULL, MHD_OPTION_SOCK_ADDR,
                              (struct sockaddr*)&address, MHD_OPTION_CONNECTION_TIMEOUT,
                              (unsigned int)30, MHD_OPTION_END);
    if (!daemon) {
        fprintf(stderr, "web_server: cannot serve on 127.0.0.1:%ld\n", port);
        return 1;
    }
    info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
    printf("serving %zu files on http://127.0.0.1:%u/\n", site_count(),
           info ? (unsigned)info->port : (unsigned)port);
    fflush(stdout);
    sigwait(&stops, &stop);
    MHD_stop_daemon(daemon);
    return 0;
}
