// cpp-httplib serving a folder from disk (set_mount_point), the peer of examples/web-httplib.
// usage: httplib_disk FOLDER PORT
#include <httplib.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    httplib::Server server;
    server.set_tcp_nodelay(true); // as examples/web-httplib
    if (!server.set_mount_point("/", argv[1]))
        return 1;
    return server.listen("127.0.0.1", std::atoi(argv[2])) ? 0 : 1;
}
