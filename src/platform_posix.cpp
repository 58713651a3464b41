// POSIX hosts (Linux, macOS, the BSDs). The header's folder is held open, so that the temporary
// is made, renamed and removed relative to it: a folder renamed during the run keeps no
// leftover, and a long path needs no longer one for the temporary.
#include "platform.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/random.h>
#include <sys/vfs.h>
#endif

namespace vormesta::platform {
namespace {

// Linux holds a folder open without reading it (so one that may not be listed works too).
#ifndef O_PATH
#define O_PATH O_RDONLY
#endif
constexpr int folder_flags = O_PATH | O_DIRECTORY | O_CLOEXEC;

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};

// The temporary to remove on a stop: its folder and its name there, published once the name is
// set.
std::atomic<int> pending_folder{-1};
char pending_name[64];

// Removes the temporary, then lets the signal end the process as it would have: the shell and
// make see the usual status. Process 1 of a PID namespace ignores a signal left at its default
// action; it still ends, with the status a shell gives that signal.
extern "C" void remove_temporary_and_stop(int signal_number) {
    const int folder = pending_folder.load();
    if (folder >= 0)
        unlinkat(folder, pending_name, 0);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigaction(signal_number, &action, nullptr);
    raise(signal_number);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal_number);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    _exit(128 + signal_number);
}

int held_depth = 0;
sigset_t held_previous;

std::FILE* stream(int descriptor, const char* mode) {
    if (descriptor < 0)
        return nullptr;
    std::FILE* const file = fdopen(descriptor, mode);
    if (!file)
        ::close(descriptor);
    return file;
}

// The folder part of a path, with its last '/', or nothing for a bare name.
std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The name a chain of symbolic links ends at; it need not exist. One readlink per link: a name
// that is no link ends the chain. A loop of links is left for the next call to report.
std::string follow_links(std::string path) {
    std::string target(256, '\0');
    for (int hops = 0; hops < 40; ++hops) {
        ssize_t length;
        while ((length = readlink(path.c_str(), target.data(), target.size())) ==
               static_cast<ssize_t>(target.size()))
            target.resize(2 * target.size());
        if (length < 0)
            break;
        const std::string_view link(target.data(), static_cast<std::size_t>(length));
        path = link.front() == '/' ? std::string(link) : directory_of(path) + std::string(link);
    }
    return path;
}

FileId id_of(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), 0, static_cast<std::uint64_t>(info.st_ino)};
}

std::uint64_t nanoseconds(const struct timespec& time) {
    return static_cast<std::uint64_t>(time.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(time.tv_nsec);
}

void times_of(const struct stat& info, InputFacts& facts) {
#ifdef __APPLE__
    facts.modified = nanoseconds(info.st_mtimespec);
    facts.changed = nanoseconds(info.st_ctimespec);
#else
    facts.modified = nanoseconds(info.st_mtim);
    facts.changed = nanoseconds(info.st_ctim);
#endif
}

// Files the kernel makes as they are read (/proc, /sys) tell no size that their bytes keep to.
bool made_by_kernel([[maybe_unused]] int descriptor) {
#ifdef __linux__
    // proc, sysfs, debugfs, tracefs, securityfs, cgroup2, cgroup, configfs
    static const unsigned long kinds[] = {0x9fa0,     0x62656572, 0x64626720, 0x74726163,
                                          0x73636673, 0x63677270, 0x27e0eb,   0x62656570};
    struct statfs info {};
    return fstatfs(descriptor, &info) == 0 &&
           std::count(std::begin(kinds), std::end(kinds), static_cast<unsigned long>(info.f_type));
#else
    return false;
#endif
}

// 64 bits from the system's generator; where it has none to give (an old kernel), from the
// clock, which differs from one call to the next.
std::uint64_t random_bits() {
    std::uint64_t bits = 0;
#ifdef __linux__
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits))
        bits = static_cast<std::uint64_t>(
                   std::chrono::steady_clock::now().time_since_epoch().count()) *
               0x9E3779B97F4A7C15u;
#else
    arc4random_buf(&bits, sizeof bits);
#endif
    return bits;
}

// A new file of the run's own in `folder`, under a name nobody can guess: a leftover of a killed
// run, or anyone's file, only moves it on to the next name, of which there are plenty. -1 when
// none can be made.
int create_new(int folder, int flags, mode_t mode, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = ".vormesta-0000000000000000.tmp";
        std::uint64_t bits = random_bits();
        for (std::size_t i = 10; i < 26; ++i, bits >>= 4)
            name[i] = "0123456789abcdef"[bits & 15];
        const int descriptor =
            openat(folder, name.c_str(), flags | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (descriptor >= 0 || errno != EEXIST)
            return descriptor;
    }
    return -1;
}

// Whether this user may write a file, from its owner and bits alone where they settle it (root,
// or the owner); otherwise by opening it for writing, which also hands the file over.
bool may_write(int folder, const std::string& name, const struct stat& info, std::FILE*& opened) {
    // A read-only file system refuses everyone, root too: found out before a byte is read.
    if (faccessat(folder, name.c_str(), W_OK, 0) != 0 && errno == EROFS)
        return false;
    const uid_t user = geteuid();
    if (user == 0 || info.st_uid == user)
        return user == 0 || (info.st_mode & S_IWUSR) != 0;
    opened =
        stream(openat(folder, name.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW), "wb");
    return opened != nullptr;
}

} // namespace

const std::string_view line_end = "\n";

bool utf8_arguments(int&, char**&) {
    return true;
}

void print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

// A stop the caller ignores (nohup, a background job) stays ignored.
void handle_stops() {
    struct sigaction action {};
    action.sa_handler = remove_temporary_and_stop;
    sigemptyset(&action.sa_mask);
    for (const int signal_number : stop_signals) {
        struct sigaction old {};
        if (sigaction(signal_number, &action, &old) == 0 && old.sa_handler == SIG_IGN)
            sigaction(signal_number, &old, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

StopsHeld::StopsHeld() {
    if (held_depth++ > 0)
        return;
    sigset_t held;
    sigemptyset(&held);
    for (const int signal_number : stop_signals)
        sigaddset(&held, signal_number);
    sigprocmask(SIG_BLOCK, &held, &held_previous);
}

StopsHeld::~StopsHeld() {
    if (--held_depth == 0)
        sigprocmask(SIG_SETMASK, &held_previous, nullptr);
}

// Read in large blocks by its callers: a buffer of its own would only cost a copy (and a look
// at the file to size it).
std::FILE* open_input(const char* path) {
    std::FILE* const file = std::fopen(path, "rb");
    if (file)
        std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

bool seek_input(std::FILE* file, std::uint64_t offset) {
    return offset <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) &&
           fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

namespace {

void facts_of(const struct stat& info, InputFacts& facts) {
    facts.is_directory = S_ISDIR(info.st_mode);
    facts.is_regular = S_ISREG(info.st_mode);
    facts.size = facts.is_regular ? static_cast<std::uint64_t>(info.st_size) : 0;
    times_of(info, facts);
    facts.id = id_of(info);
}

} // namespace

bool facts_of_input(std::FILE* file, InputFacts& facts) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0)
        return false;
    facts_of(info, facts);
    return true;
}

bool list_folder(const std::string& folder, std::vector<FolderEntry>& entries) {
    DIR* listing = opendir(folder.c_str());
    if (!listing)
        return false;
    entries.clear();
    errno = 0;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info {};
        FolderEntry found{name, FolderEntry::Kind::other, 0};
#ifdef DT_UNKNOWN
        // Most file systems say the kind in the listing: no look at each entry.
        if (entry->d_type == DT_REG || entry->d_type == DT_DIR || entry->d_type == DT_LNK) {
            found.kind = entry->d_type == DT_REG   ? FolderEntry::Kind::file
                         : entry->d_type == DT_DIR ? FolderEntry::Kind::folder
                                                   : FolderEntry::Kind::link;
            entries.push_back(std::move(found));
            errno = 0;
            continue;
        }
#endif
        if (lstat((folder + "/" + name).c_str(), &info) == 0)
            found.kind = S_ISREG(info.st_mode)   ? FolderEntry::Kind::file
                         : S_ISDIR(info.st_mode) ? FolderEntry::Kind::folder
                         : S_ISLNK(info.st_mode) ? FolderEntry::Kind::link
                                                 : FolderEntry::Kind::other;
        else
            found.error = errno;
        entries.push_back(std::move(found));
        errno = 0;
    }
    const int failed = errno;
    closedir(listing);
    errno = failed;
    return failed == 0;
}

bool facts_of_path(const std::string& path, InputFacts& facts) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return false;
    facts_of(info, facts);
    return true;
}

bool remove_path(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

bool remove_if_abandoned(const std::string& path) {
    // A run writing it holds its lock: one that gets the lock finds it abandoned.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const bool removed = flock(descriptor, LOCK_EX | LOCK_NB) == 0 && unlink(path.c_str()) == 0;
    ::close(descriptor);
    return removed;
}

bool make_folders(const std::string& folder) {
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '/')
            continue;
        const std::string part = folder.substr(0, at);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

bool resolve_path(const std::string& path, std::string& resolved) {
    char* full = realpath(path.c_str(), nullptr);
    if (!full)
        return false;
    resolved = full;
    std::free(full);
    return true;
}

bool input_unchanged(std::FILE* file, const InputFacts& at_open, std::uint64_t bytes_read) {
    if (!at_open.is_regular)
        return true;
    InputFacts now;
    if (!facts_of_input(file, now) || now.size != at_open.size ||
        now.modified != at_open.modified || now.changed != at_open.changed)
        return false;
    return bytes_read == at_open.size || made_by_kernel(fileno(file));
}

Target::~Target() {
    if (opened_)
        std::fclose(opened_);
    if (folder_ >= 0)
        ::close(folder_);
}

Target::Kind Target::classify(const char* path, const FileId& input) {
    const auto open_folder_of = [this](const std::string& file) {
        if (folder_ >= 0)
            ::close(folder_);
        const std::string folder = directory_of(file);
        folder_ = ::open(folder.empty() ? "." : folder.c_str(), folder_flags);
        name_ = file.substr(folder.size());
        return folder_ >= 0;
    };
    if (!open_folder_of(path))
        return Kind::failed;
    struct stat info {};
    if (fstatat(folder_, name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Kind::nothing : Kind::failed;
    if (S_ISLNK(info.st_mode)) {
        // Followed by the kernel, so that its checks (fs.protected_symlinks) hold; its end is
        // then named by reading the links.
        const int descriptor = openat(folder_, name_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (descriptor < 0 && errno != ENOENT)
            return Kind::failed;
        if (descriptor >= 0 &&
            (fstat(descriptor, &info) != 0 || !(opened_ = stream(descriptor, "wb"))))
            return Kind::failed;
        if (!open_folder_of(follow_links(path)))
            return Kind::failed;
        if (descriptor < 0)
            return Kind::nothing;
    }
    if (id_of(info) == input)
        return Kind::input;
    if (S_ISDIR(info.st_mode))
        return Kind::not_writable;
    if (!S_ISREG(info.st_mode))
        return Kind::device;
    if (!opened_ && !may_write(folder_, name_, info, opened_))
        return Kind::not_writable;
    permissions_ = static_cast<int>(info.st_mode & 07777);
    return Kind::file;
}

std::FILE* Target::open_emptied() {
    if (!opened_)
        return stream(openat(folder_, name_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY),
                      "wb");
    if (permissions_ >= 0 && ftruncate(fileno(opened_), 0) != 0)
        return nullptr;
    return std::exchange(opened_, nullptr);
}

// Made with no more permission bits than the header will have, and published for removal on a
// stop only once it is this run's own, with stops held meanwhile.
bool Temporary::create_beside(const Target& target) {
    const int permissions = target.permissions_;
    const auto mode = static_cast<mode_t>(permissions < 0 ? 0666 : permissions);
    const StopsHeld held;
    std::string name;
    const int descriptor = create_new(target.folder_, O_WRONLY, mode, name);
    if (descriptor < 0)
        return false;
    // Held while it is written, so that a later run knows it from one a killed run left.
    flock(descriptor, LOCK_EX | LOCK_NB);
    folder_ = target.folder_;
    name_ = std::move(name);
    std::memcpy(pending_name, name_.c_str(), name_.size() + 1);
    pending_folder = folder_;
    // The umask may have taken bits the existing header has: give them back.
    file_ = stream(descriptor, "wb");
    if (!file_ || (permissions >= 0 && fchmod(fileno(file_), mode) != 0)) {
        remove();
        return false;
    }
    std::setvbuf(file_, buffer_, _IOFBF, sizeof buffer_);
    return true;
}

// Removed as soon as it is made: nothing of it can be left, whatever ends the run.
bool Temporary::create_elsewhere() {
    const char* path = std::getenv("TMPDIR");
    const int folder = ::open(path && path[0] == '/' ? path : "/tmp", folder_flags);
    std::string name;
    const int descriptor = folder < 0 ? -1 : create_new(folder, O_RDWR, 0600, name);
    if (descriptor >= 0)
        unlinkat(folder, name.c_str(), 0);
    if (folder >= 0)
        ::close(folder);
    if (!(file_ = stream(descriptor, "w+b")))
        return false;
    std::setvbuf(file_, buffer_, _IOFBF, sizeof buffer_);
    return true;
}

bool Temporary::close() {
    return std::fclose(std::exchange(file_, nullptr)) == 0;
}

std::FILE* Temporary::read_back() {
    if (file_) {
        std::rewind(file_);
        return file_;
    }
    file_ = stream(openat(folder_, name_.c_str(), O_RDONLY | O_CLOEXEC), "rb");
    return file_;
}

bool Temporary::rename_over(Target& target) {
    const StopsHeld held; // once it is the header, it must not be removed
    if (renameat(folder_, name_.c_str(), target.folder_, target.name_.c_str()) != 0)
        return false;
    pending_folder = -1;
    name_.clear();
    return true;
}

void Temporary::remove() {
    if (file_)
        std::fclose(std::exchange(file_, nullptr));
    if (name_.empty())
        return;
    const StopsHeld held;
    unlinkat(folder_, name_.c_str(), 0);
    pending_folder = -1;
    name_.clear();
}

} // namespace vormesta::platform
