/* A web server whose whole site is in the program: the files of site/, embedded by vormesta with
 * their media types, validators and gzip and brotli forms made at build time, answered by
 * vormesta's responder (GET and HEAD, folders' index.html, the smallest form the client takes,
 * 304, ranges, 404.html). It links libmicrohttpd alone: no compression library.
 *
 * usage: web_server PORT   (on 127.0.0.1; 0 takes a free port, which it prints) */
#include <arpa/inet.h>
#include <microhttpd.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vormesta/site.h"

#include "vormesta/microhttpd.h"

int main(int argc, char** argv) {
    static struct vormesta_mount site = {site_count, site_at, "/", 0};
    struct MHD_OptionItem options[] = {{MHD_OPTION_SOCK_ADDR, 0, NULL},
                                       {MHD_OPTION_CONNECTION_TIMEOUT, 30, NULL},
                                       {MHD_OPTION_END, 0, NULL}};
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
    options[0].ptr_value = &address;
    daemon = vormesta_mhd_start(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_USE_ERROR_LOG,
                                (uint16_t)port, &site, options);
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
