// A library embedded by vormesta served by cpp-httplib, in one call:
//
//     #include <httplib.h>
//     #include "vormesta/site.h"
//     #include "vormesta/httplib.hpp"
//
//     httplib::Server server;
//     vormesta::mount(server, {site_count, site_at, "/", 0});
//
// Every request below the prefix is answered by vormesta_respond from the target as it was sent
// (absolute-form too), with the body streamed from where the program holds it: no copy into the
// response, and no compression of cpp-httplib's own over the library's forms. cpp-httplib
// parses ranges before any handler sees the request; the responder answers them instead, so
// that If-Range and the forms are honoured. Routes registered before the mount come first.
//
// What cpp-httplib 0.11 does before the mount is reached, and so the mount cannot change: a
// Range of another unit, or malformed, is answered 416 (RFC 9110 asks that it be ignored), and
// the body of a GET is not read (the bytes left are taken for the next request).
#ifndef VORMESTA_HTTPLIB_HPP
#define VORMESTA_HTTPLIB_HPP
#include "vormesta/http.h"

#include <httplib.h>

#include <string>

namespace vormesta {
namespace detail {

// `text` matched as it is by a regular expression.
inline std::string literal(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos)
            out += '\\';
        out += c;
    }
    return out;
}

inline void answer(const vormesta_mount& mount, const httplib::Request& in,
                   httplib::Response& out) {
    // The responder answers Range itself (cpp-httplib would cut the body again).
    const_cast<httplib::Request&>(in).ranges.clear();
    const std::string accept = in.get_header_value("Accept-Encoding"),
                      none_match = in.get_header_value("If-None-Match"),
                      range = in.get_header_value("Range"),
                      if_range = in.get_header_value("If-Range");
    auto given = [&](const char* name, const std::string& value) {
        return in.has_header(name) ? value.c_str() : nullptr;
    };
    vormesta_request request{};
    request.method = in.method.c_str();
    request.target = in.target.data();
    request.target_length = in.target.size();
    request.accept_encoding = given("Accept-Encoding", accept);
    request.if_none_match = given("If-None-Match", none_match);
    request.range = given("Range", range);
    request.if_range = given("If-Range", if_range);
    vormesta_response response;
    if (!vormesta_refuse_hosts(&request, in.version == "HTTP/1.1",
                               in.get_header_value_count("Host"), &response))
        vormesta_respond(&mount, &request, &response);
    out.status = response.status;
    std::string type;
    for (std::size_t i = 0; i < response.header_count; ++i) {
        if (std::string(response.headers[i].name) == "Content-Type")
            type = response.headers[i].value;
        else
            out.set_header(response.headers[i].name, response.headers[i].value);
    }
    if (response.status == 304 || response.body_size == 0) {
        if (!type.empty())
            out.set_header("Content-Type", type);
        return;
    }
    const char* data = reinterpret_cast<const char*>(response.body);
    out.set_content_provider(
        response.body_size, type,
        [data](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            sink.write(data + offset, length);
            return true;
        });
}

} // namespace detail

// Serves `mount` on `server`: GET and HEAD of every path below its prefix, and 405 for the
// other methods there.
inline void mount(httplib::Server& server, const vormesta_mount& mount) {
    std::string prefix = mount.prefix ? mount.prefix : "";
    while (!prefix.empty() && prefix.back() == '/')
        prefix.pop_back();
    // cpp-httplib matches the whole path, which an absolute-form target begins with its origin.
    const std::string pattern =
        "(?:[A-Za-z][A-Za-z0-9+.-]*://[^/]*)?" + detail::literal(prefix) + "(?:/.*)?";
    const auto handler = [mount](const httplib::Request& in, httplib::Response& out) {
        detail::answer(mount, in, out);
    };
    server.Get(pattern, handler);
    server.Post(pattern, handler);
    server.Put(pattern, handler);
    server.Patch(pattern, handler);
    server.Delete(pattern, handler);
    server.Options(pattern, handler);
}

} // namespace vormesta
#endif
