// libFuzzer target over the responder: any request, raw or decoded, at any prefix, answered
// within its bounds. The input's lines are the method, the target, Accept-Encoding,
// If-None-Match, Range, If-Range and the prefix; its first byte picks the entry and options.
#include "vormesta/fuzz_site.h"

#include "vormesta/http.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Whether [data, data + size) lies within the bytes of a file or of one of its forms.
bool within_a_file(const unsigned char* data, std::size_t size) {
    for (std::size_t i = 0; i < fuzz_site_count(); ++i) {
        const vormesta_file* file = fuzz_site_at(i);
        if (data >= file->data && data + size <= file->data + file->size)
            return true;
        for (std::size_t j = 0; j < file->encoding_count; ++j) {
            const vormesta_encoding& form = file->encodings[j];
            if (data >= form.data && data + size <= form.data + form.size)
                return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0)
        return 0;
    const unsigned choice = bytes[0];
    std::vector<std::string> lines(1);
    for (std::size_t i = 1; i < size; ++i) {
        if (bytes[i] == '\n' && lines.size() < 7)
            lines.emplace_back();
        else
            lines.back() += static_cast<char>(bytes[i]);
    }
    lines.resize(7);
    auto header = [&](std::size_t i) { return lines[i].empty() ? nullptr : lines[i].c_str(); };
    const vormesta_mount mount{fuzz_site_count, fuzz_site_at, header(6),
                               (choice & 2) ? VORMESTA_SINGLE_PAGE : 0u};
    vormesta_request request{};
    request.method = lines[0].c_str();
    request.target = lines[1].data(); // may hold NULs: its length says where it ends
    request.target_length = lines[1].size();
    request.accept_encoding = header(2);
    request.if_none_match = header(3);
    request.range = header(4);
    request.if_range = header(5);
    vormesta_response response;
    if (choice & 1)
        vormesta_respond_decoded(&mount, &request, &response);
    else
        vormesta_respond(&mount, &request, &response);
    switch (response.status) {
    case 200:
    case 206:
    case 301:
    case 304:
    case 400:
    case 404:
    case 405:
    case 416:
        break;
    default:
        std::abort();
    }
    if (response.header_count > 8 || !response.body)
        std::abort();
    // A file's answer is made of its bytes or a form's; the others of the responder's own text.
    if ((response.status == 200 || response.status == 206) && response.body_size > 0 &&
        !within_a_file(response.body, response.body_size))
        std::abort();
    for (std::size_t i = 0; i < response.header_count; ++i)
        for (const char* c = response.headers[i].value; *c; ++c)
            if (*c == '\r' || *c == '\n')
                std::abort(); // a header split in two
    return 0;
}
