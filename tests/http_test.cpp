// The table of requests (http/requests.txt) answered by the responder itself, over the library of
// examples/web/site: every answer's status, headers and body, the body a pointer into the
// embedded bytes.
#include "vormesta/site.h"

#include "vormesta/http.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Row {
    std::string name;
    std::vector<std::string> request;              // its lines
    std::vector<std::vector<std::string>> answers; // "-> status" and what follows, per request
};

std::vector<Row> read_table(const char* path) {
    std::ifstream in(path);
    std::vector<Row> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("==", 0) == 0) {
            rows.push_back({line.substr(3), {}, {}});
        } else if (rows.empty() || (line.empty() && rows.back().request.empty()) ||
                   line[0] == '#') {
            continue;
        } else if (line.rfind("-> ", 0) == 0) {
            rows.back().answers.push_back({line.substr(3)});
        } else if (!rows.back().answers.empty()) {
            if (!line.empty())
                rows.back().answers.back().push_back(line);
        } else {
            rows.back().request.push_back(line);
        }
    }
    return rows;
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

const vormesta_file* file_at(const std::string& path) {
    const vormesta_file* file = site_find(path.c_str());
    if (!file)
        ADD_FAILURE() << path << ": not in the library";
    return file;
}

const vormesta_encoding* form_of(const vormesta_file* file, const std::string& coding) {
    for (std::size_t i = 0; file && i < file->encoding_count; ++i)
        if (coding == file->encodings[i].name)
            return &file->encodings[i];
    ADD_FAILURE() << "no " << coding << " form";
    return nullptr;
}

// "{etag PATH [CODING]}" and "{size PATH}" replaced by what the library holds.
std::string resolve(std::string text) {
    for (std::size_t open; (open = text.find('{')) != std::string::npos;) {
        const std::size_t close = text.find('}', open);
        std::string inside = text.substr(open + 1, close - open - 1);
        const std::size_t space = inside.find(' ');
        const std::string what = inside.substr(0, space);
        std::string path = inside.substr(space + 1), coding;
        if (what == "etag" && path.find(' ') != std::string::npos) {
            coding = path.substr(path.rfind(' ') + 1);
            path.erase(path.rfind(' '));
        }
        const vormesta_file* file = file_at(path);
        std::string value;
        if (file && what == "size")
            value = std::to_string(file->size);
        else if (file && coding.empty())
            value = file->etag ? file->etag : "";
        else if (const vormesta_encoding* form = form_of(file, coding))
            value = form->etag;
        text.replace(open, close - open + 1, value);
    }
    return text;
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The requests of a row's lines, as a server would take them apart: the request line, the
// headers, a body of Content-Length bytes set aside.
struct Parsed {
    std::string method, target, version;
    std::vector<std::pair<std::string, std::string>> headers; // names in lower case
    std::size_t count(const char* name) const {
        return static_cast<std::size_t>(
            std::count_if(headers.begin(), headers.end(),
                          [&](const auto& header) { return header.first == name; }));
    }
    const char* header(const char* name) const {
        for (const auto& header : headers)
            if (header.first == name)
                return header.second.c_str();
        return nullptr;
    }
};

std::vector<Parsed> parse(const std::vector<std::string>& lines) {
    std::vector<Parsed> requests;
    for (std::size_t i = 0; i < lines.size();) {
        if (lines[i].empty()) {
            ++i;
            continue;
        }
        const std::vector<std::string> first = words(lines[i++]);
        Parsed request{first.at(0), first.at(1), first.at(2), {}};
        for (; i < lines.size() && !lines[i].empty(); ++i) {
            const std::size_t colon = lines[i].find(':');
            request.headers.emplace_back(lower(lines[i].substr(0, colon)),
                                         resolve(lines[i].substr(colon + 2)));
        }
        std::size_t body =
            request.header("content-length") ? std::stoul(request.header("content-length")) : 0;
        for (++i; body > 0 && i < lines.size(); ++i)
            body -= std::min(body, lines[i].size() + 2);
        requests.push_back(request);
    }
    return requests;
}

// What is wrong with `response` for the expectations of `answer`, or nothing.
std::string mismatch(const vormesta_response& response, const std::vector<std::string>& answer) {
    std::ostringstream wrong;
    if (std::to_string(response.status) != answer[0])
        wrong << " status " << response.status;
    auto header = [&](const std::string& name) -> const char* {
        for (std::size_t i = 0; i < response.header_count; ++i)
            if (lower(response.headers[i].name) == lower(name))
                return response.headers[i].value;
        return nullptr;
    };
    for (std::size_t i = 1; i < answer.size(); ++i) {
        const std::string& want = answer[i];
        if (want[0] == '!') {
            if (header(want.substr(1)))
                wrong << " " << want.substr(1) << " present";
        } else if (want.rfind("body: ", 0) == 0) {
            const std::vector<std::string> body = words(want.substr(6));
            const unsigned char* data = nullptr;
            std::size_t size = 0;
            if (body[0] == "empty") {
                if (response.send_body && response.body_size > 0)
                    wrong << " a body";
                continue;
            }
            std::string path = want.substr(6 + body[0].size() + 1);
            if (body[0] == "range") {
                path = path.substr(0, path.size() - body[2].size() - body[3].size() - 2);
                const vormesta_file* file = file_at(path);
                data = file ? file->data + std::stoul(body[2]) : nullptr;
                size = std::stoul(body[3]) - std::stoul(body[2]) + 1;
            } else if (body.size() > 2 && body.back() == "gzip") {
                const vormesta_encoding* form =
                    form_of(file_at(path.substr(0, path.size() - 5)), "gzip");
                data = form ? form->data : nullptr;
                size = form ? form->size : 0;
            } else if (const vormesta_file* file = file_at(path)) {
                data = file->data;
                size = file->size;
            }
            if (!response.send_body || response.body != data || response.body_size != size)
                wrong << " not the body of " << want.substr(6);
        } else {
            const std::size_t colon = want.find(':');
            const std::string name = want.substr(0, colon), value = resolve(want.substr(colon + 2));
            const std::string have = lower(name) == "content-length"
                                         ? std::to_string(response.body_size)
                                     : header(name) ? header(name)
                                                    : "(none)";
            if (have != value)
                wrong << " " << name << ": " << have;
        }
    }
    return wrong.str();
}

TEST(Responder, AnswersTheTable) {
    const std::vector<Row> rows = read_table(VORMESTA_HTTP_TABLE);
    ASSERT_GT(rows.size(), 40u);
    for (const Row& row : rows) {
        if (row.name.find("[server]") != std::string::npos)
            continue;
        const vormesta_mount mount{
            site_count, site_at, "/",
            row.name.find("[single-page]") != std::string::npos ? VORMESTA_SINGLE_PAGE : 0};
        const std::vector<Parsed> requests = parse(row.request);
        ASSERT_EQ(requests.size(), row.answers.size()) << row.name;
        for (std::size_t i = 0; i < requests.size(); ++i) {
            const Parsed& parsed = requests[i];
            vormesta_request request{};
            request.method = parsed.method.c_str();
            request.target = parsed.target.c_str();
            request.target_length = parsed.target.size();
            request.accept_encoding = parsed.header("accept-encoding");
            request.if_none_match = parsed.header("if-none-match");
            request.range = parsed.header("range");
            request.if_range = parsed.header("if-range");
            vormesta_response response;
            if (!vormesta_refuse_hosts(&request, parsed.version == "HTTP/1.1", parsed.count("host"),
                                       &response))
                vormesta_respond(&mount, &request, &response);
            EXPECT_EQ(mismatch(response, row.answers[i]), "") << row.name;
        }
    }
}

// A server that gives the path decoded (the bytes as they are, '%' and '?' in names too), and a
// library served below a prefix.
TEST(Responder, TakesADecodedPathAndAPrefix) {
    const struct {
        const char* prefix;
        const char* path;
        int status;
        const char* file; // or the Location
    } rows[] = {
        {"/", "/docs/read me.txt", 200, "docs/read me.txt"},
        {"/", "/\xC3\xA9t\xC3\xA9.txt", 200, "\xC3\xA9t\xC3\xA9.txt"},
        {"/", "/docs/read%20me.txt", 404, "404.html"},
        {"/", "/index.html?v=1", 404, "404.html"},
        {"/", "/docs", 301, "docs/"},
        {"/", "/../index.html", 400, nullptr},
        {"/", "/css\\site.css", 400, nullptr},
        {"/static/", "/static/js/app.js", 200, "js/app.js"},
        {"/static", "/static/", 200, "index.html"},
        {"/static/", "/static", 301, "static/"},
        {"/static/", "/static/docs", 301, "docs/"},
        {"/static/", "/js/app.js", 404, nullptr},
        {"/static/", "/staticjs/app.js", 404, nullptr},
        {"/a b/", "/a b/js/app.js", 200, "js/app.js"},
    };
    for (const auto& row : rows) {
        const vormesta_mount mount{site_count, site_at, row.prefix, 0};
        vormesta_request request{};
        request.method = "GET";
        request.target = row.path;
        request.target_length = std::strlen(row.path);
        vormesta_response response;
        vormesta_respond_decoded(&mount, &request, &response);
        EXPECT_EQ(response.status, row.status) << row.path;
        if (row.status == 301) {
            EXPECT_STREQ(response.location, row.file);
        } else if (row.file) {
            EXPECT_EQ(response.body, site_find(row.file)->data) << row.path;
        }
    }
    // An embedded NUL is refused, not taken for the path's end; a prefix matches encoded too.
    const vormesta_mount root{site_count, site_at, nullptr, 0};
    vormesta_request request{};
    request.method = "GET";
    request.target = "/index.html\0.png";
    request.target_length = 16;
    vormesta_response response;
    vormesta_respond_decoded(&root, &request, &response);
    EXPECT_EQ(response.status, 400);
    // A control byte in the query, which a redirect's Location would carry, is refused too.
    for (const char* target : {"/docs?a\r\nSet-Cookie: x", "http://test?a\r\nSet-Cookie: x"}) {
        request.target = target;
        request.target_length = std::strlen(target);
        vormesta_respond(&root, &request, &response);
        EXPECT_EQ(response.status, 400) << target;
    }
    const vormesta_mount spaced{site_count, site_at, "/a b", 0};
    request.target = "/a%20b/js/app.js";
    request.target_length = std::strlen(request.target);
    vormesta_respond(&spaced, &request, &response);
    EXPECT_EQ(response.body, site_find("js/app.js")->data);
}

} // namespace
