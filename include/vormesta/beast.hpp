// A library embedded by vormesta served with Boost.Beast: the response to a request, in one call.
//
//     #include <boost/beast/http.hpp>
//     #include "vormesta/site.h"
//     #include "vormesta/beast.hpp"
//
//     const vormesta_mount site{site_count, site_at, "/", 0};
//     http::write(stream, vormesta::respond(site, request));   // request read by http::read
//
// The response is answered by vormesta_respond from the target as it was sent; its body is a
// span_body over the bytes the program holds (no copy). Beast's parser reads and drops a
// request's body and refuses what is malformed; HTTP/1.1 without exactly one Host gets 400.
#ifndef VORMESTA_BEAST_HPP
#define VORMESTA_BEAST_HPP
#include "vormesta/http.h"

#include <boost/beast/http.hpp>

#include <string>

namespace vormesta {

using beast_response = boost::beast::http::response<boost::beast::http::span_body<const char>>;

template <class Body, class Fields>
beast_response respond(const vormesta_mount& mount,
                       const boost::beast::http::request<Body, Fields>& in) {
    namespace http = boost::beast::http;
    beast_response out;
    out.version(in.version());
    out.keep_alive(in.keep_alive());
    // Beast's values are not NUL-terminated: the few the responder reads, as C strings.
    const std::string method(in.method_string());
    std::string values[4];
    const http::field fields[4] = {http::field::accept_encoding, http::field::if_none_match,
                                   http::field::range, http::field::if_range};
    const char* given[4] = {};
    for (int i = 0; i < 4; ++i) {
        const auto found = in.find(fields[i]);
        if (found != in.end()) {
            values[i] = std::string(found->value());
            given[i] = values[i].c_str();
        }
    }
    vormesta_request request{};
    request.method = method.c_str();
    request.target = in.target().data();
    request.target_length = in.target().size();
    request.accept_encoding = given[0];
    request.if_none_match = given[1];
    request.range = given[2];
    request.if_range = given[3];
    vormesta_response response;
    if (!vormesta_refuse_hosts(&request, in.version() == 11, in.count(http::field::host),
                               &response))
        vormesta_respond(&mount, &request, &response);
    out.result(static_cast<unsigned>(response.status));
    for (std::size_t i = 0; i < response.header_count; ++i)
        out.set(response.headers[i].name, response.headers[i].value);
    if (response.status != 304)
        out.content_length(response.body_size);
    if (response.send_body)
        out.body() = {reinterpret_cast<const char*>(response.body), response.body_size};
    return out;
}

} // namespace vormesta
#endif
