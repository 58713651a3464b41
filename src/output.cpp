// The header's way to its path, as every host takes it; each host's platform file creates the
// temporary, puts it over the target and removes it.
#include "platform.hpp"

#include <cerrno>
#include <memory>
#include <new>
#include <utility>

namespace vormesta::platform {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

void close(std::FILE*& file) {
    if (file)
        std::fclose(std::exchange(file, nullptr));
}

} // namespace

Output::Opened Output::open(const char* path, const FileId& input) {
    try {
        int permissions = -1;
        const Opened found = find_target(path, input, permissions);
        if (found != Opened::ok || file_)
            return found;
        if (create_temporary(permissions))
            return Opened::ok;
        // A folder that lets the header be written but no file be made beside it.
        if ((errno == EACCES || errno == EPERM || errno == EROFS) && write_in_place())
            return Opened::ok;
        return Opened::failed;
    } catch (const std::bad_alloc&) {
        discard();
        errno = ENOMEM;
        return Opened::failed;
    }
}

bool Output::commit() {
    std::FILE* const file = std::exchange(file_, nullptr);
    const bool written = std::fflush(file) == 0 && !std::ferror(file);
    const bool closed = std::fclose(file) == 0;
    bool placed = written && closed;
    if (placed && !temporary_.empty()) {
        const Replaced replaced = replace_target();
        placed = replaced == Replaced::done ||
                 (replaced == Replaced::refused && copy_temporary_in_place());
    }
    if (!placed) {
        discard();
        return false;
    }
    close(in_place_);
    return true;
}

void Output::discard() {
    close(file_);
    close(in_place_);
    if (!temporary_.empty())
        remove_temporary();
}

bool Output::write_in_place() {
    if ((!in_place_ && !open_in_place()) || !truncate(in_place_))
        return false;
    file_ = std::exchange(in_place_, nullptr);
    return true;
}

// The folder would not let the finished temporary replace the header: its bytes go into the
// header itself, which may leave it partial if this fails part-way.
bool Output::copy_temporary_in_place() {
    const std::unique_ptr<std::FILE, FileCloser> from(open_input(temporary_.c_str()));
    if (!from || (!in_place_ && !open_in_place()) || !truncate(in_place_))
        return false;
    char block[1 << 15];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, from.get())) > 0)
        if (std::fwrite(block, 1, got, in_place_) != got)
            return false;
    if (std::ferror(from.get()) || std::fflush(in_place_) != 0)
        return false;
    const bool closed = std::fclose(std::exchange(in_place_, nullptr)) == 0;
    remove_temporary();
    return closed;
}

} // namespace vormesta::platform
