// Fuzzes the naming and the writer together, checking properties rather than examples: the
// names follow from the path as the rules say, and the header text reads back to the input.
#include "array_writer.hpp"
#include "naming.hpp"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void require(bool holds) {
    if (!holds)
        std::abort();
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_identifier_char(char c) {
    return is_digit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

void check_names(const std::string& path) {
    const std::size_t base = vormesta::find_base_length(path);
    require(base <= path.size());
    if (path.empty())
        return;
    require(base >= 1);
    // The extension is the text after the last dot of the last component, never a leading dot.
    const std::size_t last_mark = path.find_last_of("./\\");
    const bool has_extension =
        last_mark != std::string::npos && last_mark != 0 && path[last_mark] == '.';
    require(base == (has_extension ? last_mark : path.size()));

    require(vormesta::make_output_path(path, base) == path.substr(0, base) + ".h");

    const std::string name = vormesta::make_array_name(path, base);
    const auto taken = [](const std::string& n) {
        return vormesta::is_keyword(n) || vormesta::is_reserved(n);
    };
    require(!name.empty() && !is_digit(name.front()) && !taken(name));
    for (char c : name)
        require(is_identifier_char(c));
    // The name is the base with every byte but letters and digits made '_', with '_' in front
    // only where it would otherwise start with a digit, and '_' behind only as long as it would
    // otherwise be a keyword or a reserved name.
    std::string replaced = path.substr(0, base);
    for (char& c : replaced)
        c = is_identifier_char(c) ? c : '_';
    if (is_digit(replaced.front()))
        replaced.insert(0, "_");
    std::string stem = name;
    while (stem.size() > replaced.size() && stem.back() == '_' &&
           taken(stem.substr(0, stem.size() - 1)))
        stem.pop_back();
    require(stem == replaced);
}

int hex_value(char c) {
    if (is_digit(c))
        return c - '0';
    require(c >= 'A' && c <= 'F'); // upper case only
    return c - 'A' + 10;
}

// Reads the header text back into bytes, insisting on the exact layout as it goes.
std::string decode(const std::string& text, const std::string& line_end) {
    const std::string head = "const unsigned char v[] = {" + line_end;
    const std::string tail = "};" + line_end;
    require(text.compare(0, head.size(), head) == 0);
    require(text.size() >= head.size() + tail.size());
    require(text.compare(text.size() - tail.size(), tail.size(), tail) == 0);
    std::string bytes;
    std::size_t at = head.size();
    const std::size_t end = text.size() - tail.size();
    bool short_line_seen = false;
    while (at < end) {
        require(!short_line_seen && text.compare(at, 2, "  ") == 0);
        at += 2;
        std::size_t items = 0;
        while (at + 5 <= end && text.compare(at, 2, "0x") == 0) {
            require(text[at + 4] == ',');
            bytes += static_cast<char>(hex_value(text[at + 2]) * 16 + hex_value(text[at + 3]));
            at += 5;
            ++items;
        }
        require(items >= 1 && items <= 16 && text.compare(at, line_end.size(), line_end) == 0);
        at += line_end.size();
        short_line_seen = items < 16;
    }
    return bytes;
}

void check_header(const std::string& content, const std::string& line_end) {
    std::FILE* in = content.empty()
                        ? std::fopen("/dev/null", "rb")
                        : fmemopen(const_cast<char*>(content.data()), content.size(), "rb");
    char* text = nullptr;
    std::size_t text_size = 0;
    std::FILE* out = open_memstream(&text, &text_size);
    require(in && out);
    require(vormesta::write_array(in, out, "v", line_end) == vormesta::WriteResult::ok);
    std::fclose(in);
    require(std::fclose(out) == 0);
    const std::string header(text, text_size);
    std::free(text);
    require(decode(header, line_end) == content);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::string line_end = provider.ConsumeBool() ? "\r\n" : "\n";
    check_names(provider.ConsumeRandomLengthString(512));
    check_header(provider.ConsumeRemainingBytesAsString(), line_end);
    return 0;
}
