/* civetweb serving a folder from disk (document_root), the peer of examples/web-civetweb.
 * usage: civetweb_disk FOLDER PORT */
#include <civetweb.h>
#include <signal.h>
#include <stdio.h>

int main(int argc, char** argv) {
    char listen[32];
    sigset_t stops;
    int stop;
    /* clang-format off */
    const char* options[] = {
        "document_root",     argv[1],
        "listening_ports",   listen, /* and the rest as examples/web-civetweb */
        "num_threads",       "16",
        "enable_keep_alive", "yes",
        "tcp_nodelay",       "1",
        NULL};
    /* clang-format on */
    struct mg_context* context;
    if (argc != 3)
        return 2;
    snprintf(listen, sizeof listen, "127.0.0.1:%s", argv[2]);
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, NULL);
    mg_init_library(0);
    context = mg_start(NULL, NULL, options);
    if (!context)
        return 1;
    sigwait(&stops, &stop);
    mg_stop(context);
    return 0;
}
