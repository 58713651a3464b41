// The web example's site, embedded by vormesta, served by cpp-httplib with one call.
//
// usage: web_server PORT   (on 127.0.0.1; 0 takes a free port, which it prints)
#include <httplib.h>

#include "vormesta/site.h"

#include "vormesta/httplib.hpp"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <thread>

int main(int argc, char** argv) {
    char* end = nullptr;
    const long port = argc == 2 ? std::strtol(argv[1], &end, 10) : -1;
    if (argc != 2 || *end != '\0' || port < 0 || port > 65535) {
        std::fputs("usage: web_server PORT   (on 127.0.0.1; 0 takes a free port)\n", stderr);
        return 2;
    }
    // SIGINT and SIGTERM end it, taken by sigwait below; the server's threads never see them.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    httplib::Server server;
    // Small answers leave at once, not after the client's delayed acknowledgement.
    server.set_tcp_nodelay(true);
    vormesta::mount(server, {site_count, site_at, "/", 0});
    const int bound = port == 0 ? server.bind_to_any_port("127.0.0.1")
                                : (server.bind_to_port("127.0.0.1", static_cast<int>(port))
                                       ? static_cast<int>(port)
                                       : -1);
    if (bound < 0) {
        std::fprintf(stderr, "web_server: cannot serve on 127.0.0.1:%ld\n", port);
        return 1;
    }
    std::thread serving([&server] { server.listen_after_bind(); });
    std::printf("serving %zu files on http://127.0.0.1:%d/\n", site_count(), bound);
    std::fflush(stdout);
    int stop = 0;
    sigwait(&stops, &stop);
    server.stop();
    serving.join();
    return 0;
}
