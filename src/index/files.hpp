/* A library of files embedded by vormesta, for C++17: a sorted range of vormesta_file. */
#ifndef VORMESTA_FILES_HPP
#define VORMESTA_FILES_HPP
#include <cstddef>
#include <string_view>
#if __has_include(<span>) && (__cplusplus >= 202002L || (defined(_MSVC_LANG) && _MSVC_LANG >= 202002L))
#include <span>
#define VORMESTA_HAS_SPAN 1
#endif
namespace vormesta {
// A run of files, in order.
struct file_range {
    const vormesta_file* first;
    std::size_t count;
    const vormesta_file* begin() const { return first; }
    const vormesta_file* end() const { return first + count; }
    std::size_t size() const { return count; }
};
class files {
  public:
    constexpr files(std::size_t (*count)(), const vormesta_file* (*at)(std::size_t))
        : count_(count), at_(at) {}
    std::size_t size() const { return count_(); }
    const vormesta_file* begin() const { return at_(0); }
    const vormesta_file* end() const { return begin() + size(); }
    const vormesta_file& operator[](std::size_t i) const { return *at_(i); }
    // The file at `path` below the base, or null: a binary search, by bytes.
    const vormesta_file* find(std::string_view path) const {
        const vormesta_file* first = partition([&](std::string_view at) { return at < path; });
        return first != end() && path == first->path ? first : nullptr;
    }
    // The files below `folder` ("css" or "css/"; "" for all), in order.
    file_range below(std::string_view folder) const {
        if (!folder.empty() && folder.back() == '/')
            folder.remove_suffix(1);
        const vormesta_file* first =
            partition([&](std::string_view at) { return place(at, folder) < 0; });
        const vormesta_file* last =
            partition([&](std::string_view at) { return place(at, folder) <= 0; });
        return {first, static_cast<std::size_t>(last - first)};
    }

  private:
    // Where `path` stands to the files below `folder`: before them, among them, after them.
    static int place(std::string_view path, std::string_view folder) {
        if (folder.empty())
            return 0;
        const int order = path.substr(0, folder.size()).compare(folder);
        if (order != 0 || path.size() == folder.size())
            return order != 0 ? order : -1;
        const auto next = static_cast<unsigned char>(path[folder.size()]);
        return next == '/' ? 0 : next < '/' ? -1 : 1;
    }
    // The first file for which `before` is false; they are sorted so that it holds for a prefix.
    template <typename Before> const vormesta_file* partition(Before before) const {
        const vormesta_file* first = begin();
        std::size_t count = size();
        while (count > 0) {
            const std::size_t half = count / 2;
            if (before(std::string_view(first[half].path))) {
                first += half + 1;
                count -= half + 1;
            } else {
                count = half;
            }
        }
        return first;
    }
    std::size_t (*count_)();
    const vormesta_file* (*at_)(std::size_t);
};
// The bytes as text, without a text file's NUL.
inline std::string_view text(const vormesta_file& file) {
    return {reinterpret_cast<const char*>(file.data), file.size};
}
#ifdef VORMESTA_HAS_SPAN
inline std::span<const unsigned char> bytes(const vormesta_file& file) {
    return {file.data, file.size};
}
#endif
} // namespace vormesta
#endif
