// The web example's site, embedded by vormesta, served with Boost.Beast: one thread, every
// connection read and answered asynchronously, keep-alive and pipelining as Beast reads them.
//
// usage: web_server PORT   (on 127.0.0.1; 0 takes a free port, which it prints)
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "vormesta/site.h"

#include "vormesta/beast.hpp"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;

namespace {

const vormesta_mount site{site_count, site_at, "/", 0};

// One connection: requests read one after another, each answered before the next is read.
class Session : public std::enable_shared_from_this<Session> {
  public:
    explicit Session(tcp::socket socket) : stream_(std::move(socket)) {}

    void read() {
        request_ = {};
        stream_.expires_after(std::chrono::seconds(30));
        http::async_read(stream_, buffer_, request_,
                         [self = shared_from_this()](beast::error_code error, std::size_t) {
                             self->answer(error);
                         });
    }

  private:
    void answer(beast::error_code error) {
        if (error == http::error::end_of_stream || error == beast::error::timeout) {
            close();
            return;
        }
        if (error) { // a request Beast's parser refuses
            static const char text[] = "400 Bad Request\n";
            response_ = {http::status::bad_request, 11};
            response_.set(http::field::content_type, "text/plain; charset=utf-8");
            response_.body() = {text, sizeof text - 1};
            response_.prepare_payload();
            response_.keep_alive(false);
        } else {
            response_ = vormesta::respond(site, request_);
        }
        http::async_write(stream_, response_,
                          [self = shared_from_this()](beast::error_code written, std::size_t) {
                              if (written || !self->response_.keep_alive())
                                  self->close();
                              else
                                  self->read();
                          });
    }

    void close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    http::request<http::string_body> request_;
    vormesta::beast_response response_;
};

void accept(tcp::acceptor& acceptor) {
    acceptor.async_accept([&acceptor](beast::error_code error, tcp::socket socket) {
        if (error == asio::error::operation_aborted)
            return;
        if (!error)
            std::make_shared<Session>(std::move(socket))->read();
        accept(acceptor);
    });
}

} // namespace

int main(int argc, char** argv) {
    char* end = nullptr;
    const long port = argc == 2 ? std::strtol(argv[1], &end, 10) : -1;
    if (argc != 2 || *end != '\0' || port < 0 || port > 65535) {
        std::fputs("usage: web_server PORT   (on 127.0.0.1; 0 takes a free port)\n", stderr);
        return 2;
    }
    asio::io_context context(1);
    tcp::acceptor acceptor(context);
    beast::error_code error;
    const tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"),
                                 static_cast<unsigned short>(port));
    acceptor.open(endpoint.protocol(), error);
    if (!error)
        acceptor.set_option(asio::socket_base::reuse_address(true), error);
    if (!error)
        acceptor.bind(endpoint, error);
    if (!error)
        acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        std::fprintf(stderr, "web_server: cannot serve on 127.0.0.1:%ld: %s\n", port,
                     error.message().c_str());
        return 1;
    }
    // SIGINT and SIGTERM stop the loop; run() then returns.
    asio::signal_set stops(context, SIGINT, SIGTERM);
    stops.async_wait([&context](beast::error_code, int) { context.stop(); });
    accept(acceptor);
    std::printf("serving %zu files on http://127.0.0.1:%u/\n", site_count(),
                static_cast<unsigned>(acceptor.local_endpoint().port()));
    std::fflush(stdout);
    context.run();
    return 0;
}
