/* The web example's site, embedded by vormesta, served by civetweb with one call.
 *
 * usage: web_server PORT   (on 127.0.0.1; 0 takes a free port, which it prints) */
#include <civetweb.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include "vormesta/site.h"

#include "vormesta/civetweb.h"

int main(int argc, char** argv) {
    static struct vormesta_mount site = {site_count, site_at, "/", 0};
    struct mg_server_port bound;
    struct mg_context* context;
    char listen[32];
    sigset_t stops;
    int stop;
    char* end;
    long port = argc == 2 ? strtol(argv[1], &end, 10) : -1;
    /* clang-format off */
    const char* options[] = {
        "listening_ports",   listen, /* 127.0.0.1:PORT */
        "num_threads",       "16",   /* civetweb holds a thread for each kept-alive connection */
        "enable_keep_alive", "yes",  /* off unless asked */
        "tcp_nodelay",       "1",    /* small answers leave at once */
        NULL};
    /* clang-format on */
    if (argc != 2 || *end != '\0' || port < 0 || port > 65535) {
        fputs("usage: web_server PORT   (on 127.0.0.1; 0 takes a free port)\n", stderr);
        return 2;
    }
    snprintf(listen, sizeof listen, "127.0.0.1:%ld", port);
    /* SIGINT and SIGTERM end it, taken by sigwait below; civetweb's threads never see them. */
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, NULL);
    mg_init_library(0);
    context = mg_start(NULL, NULL, options);
    if (!context || mg_get_server_ports(context, 1, &bound) < 1) {
        fprintf(stderr, "web_server: cannot serve on 127.0.0.1:%ld\n", port);
        return 1;
    }
    vormesta_civetweb_mount(context, &site);
    printf("serving %zu files on http://127.0.0.1:%d/\n", site_count(), bound.port);
    fflush(stdout);
    sigwait(&stops, &stop);
    mg_stop(context);
    mg_exit_library();
    return 0;
}
