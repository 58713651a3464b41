// Files for a test to work on, in a folder of its own below the one the tests run in.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace scratch {

// An empty folder named `name`, made afresh; its path, with a '/' after it.
inline std::string folder(const std::string& name) {
    const std::filesystem::path path = std::filesystem::path("scratch") / name;
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path.generic_string() + "/";
}

inline void put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The bytes at `path`; "(none)" where there is no file.
inline std::string bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "(none)";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes no coding makes smaller.
inline std::string noise(std::size_t size) {
    std::string bytes(size, '\0');
    unsigned state = 12345;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    return bytes;
}

} // namespace scratch
