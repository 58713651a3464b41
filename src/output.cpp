// The ladder of roads to the header's path, the same on every host.
#include "output.hpp"

#include <cerrno>
#include <memory>
#include <new>
#include <utility>

namespace vormesta {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

Output::Opened Output::open(const char* path, const platform::FileId& input) {
    using Kind = platform::Target::Kind;
    try {
        switch (target_.classify(path, input)) {
        case Kind::input:
            return Opened::is_input;
        case Kind::not_writable:
        case Kind::failed:
            return Opened::failed;
        case Kind::device:
            return write_in_place();
        case Kind::nothing:
            return take(Road::renamed, temporary_.create_beside(target_));
        case Kind::file:
            header_existed_ = true;
            // A folder may refuse a file beside the header that it lets be written.
            if (temporary_.create_beside(target_))
                return take(Road::renamed, true);
            if (temporary_.create_elsewhere())
                return take(Road::copied, true);
            return write_in_place();
        }
    } catch (const std::bad_alloc&) {
        discard();
        return Opened::out_of_memory;
    }
    return Opened::failed;
}

Output::Opened Output::take(Road road, bool opened) {
    road_ = road;
    return opened ? Opened::ok : Opened::failed;
}

Output::Opened Output::write_in_place() {
    in_place_ = target_.open_emptied();
    return take(Road::in_place, in_place_ != nullptr);
}

bool Output::commit() {
    std::FILE* const file = this->file();
    bool placed = std::fflush(file) == 0 && !std::ferror(file);
    switch (road_) {
    case Road::in_place:
        placed = std::fclose(std::exchange(in_place_, nullptr)) == 0 && placed;
        break;
    case Road::renamed:
        // Where the folder refuses the rename (a sticky folder, a header mounted on its own,
        // another file system), the complete text is copied into the header instead.
        placed = placed && temporary_.close() &&
                 (temporary_.rename_over(target_) || (header_existed_ && copy_into_target()));
        break;
    case Road::copied:
        placed = placed && copy_into_target();
        break;
    }
    if (!placed) {
        const int cause = errno; // what the caller says, past the clean-up
        discard();
        errno = cause;
    }
    return placed;
}

void Output::discard() {
    if (in_place_)
        std::fclose(std::exchange(in_place_, nullptr));
    temporary_.remove();
}

// The one step that can leave a partial header: a stop waits until it is done.
bool Output::copy_into_target() {
    const platform::StopsHeld held;
    std::FILE* const from = temporary_.read_back();
    std::unique_ptr<std::FILE, FileCloser> to(from ? target_.open_emptied() : nullptr);
    if (!to)
        return false;
    // A short read is the end only where the stream says so: a read can fail unflagged.
    char block[1 << 15];
    bool copied = false;
    for (;;) {
        const std::size_t got = std::fread(block, 1, sizeof block, from);
        if (got > 0 && std::fwrite(block, 1, got, to.get()) != got)
            return false;
        if (got < sizeof block) {
            copied = std::feof(from) && !std::ferror(from);
            break;
        }
    }
    copied = copied && std::fflush(to.get()) == 0;
    temporary_.remove();
    return std::fclose(to.release()) == 0 && copied;
}

} // namespace vormesta
