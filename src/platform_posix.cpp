#include "platform.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <new>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vormesta::platform {
namespace {

// The temporary being written, for the signal handler to remove.
std::atomic<const char*> pending_temporary{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};

// Removes the temporary, then lets the signal end the process as it would have: the shell and
// make see the usual status.
extern "C" void remove_temporary_and_stop(int signal_number) {
    if (const char* path = pending_temporary.load())
        unlink(path);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigaction(signal_number, &action, nullptr);
    raise(signal_number);
}

// A signal the caller ignores (nohup, a background job) stays ignored.
void catch_stop_signals() {
    struct sigaction action {};
    action.sa_handler = remove_temporary_and_stop;
    sigemptyset(&action.sa_mask);
    for (const int signal_number : stop_signals) {
        struct sigaction old {};
        if (sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            sigaction(signal_number, &action, nullptr);
    }
}

// Holds the stop signals back for its lifetime; they arrive once it ends.
class StopSignalsHeld {
  public:
    StopSignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal_number : stop_signals)
            sigaddset(&held, signal_number);
        sigprocmask(SIG_BLOCK, &held, &previous_);
    }
    ~StopSignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    StopSignalsHeld(const StopSignalsHeld&) = delete;
    StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

  private:
    sigset_t previous_{};
};

// The folder part of a path, with its last '/', or nothing for a bare name.
std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file a path ends at once symbolic links are followed; it need not exist. A loop of links
// is left for the next call to report.
std::string follow_links(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            break;
        std::string target(256, '\0');
        ssize_t length;
        while ((length = readlink(path.c_str(), target.data(), target.size())) ==
               static_cast<ssize_t>(target.size()))
            target.resize(2 * target.size());
        if (length < 0)
            break;
        target.resize(static_cast<std::size_t>(length));
        path = target.front() == '/' ? target : directory_of(path) + target;
    }
    return path;
}

} // namespace

const std::string_view line_end = "\n";

bool utf8_arguments(int&, char**&) {
    return true;
}

void print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

std::FILE* open_input(const char* path) {
    return std::fopen(path, "rb");
}

bool Output::open(const char* path) {
    try {
        target_ = follow_links(path);
        struct stat info {};
        const bool exists = stat(target_.c_str(), &info) == 0;
        // What cannot be inspected is not replaced either.
        if (!exists && errno != ENOENT && errno != ENOTDIR)
            return false;
        if (exists && S_ISDIR(info.st_mode)) {
            errno = EISDIR;
            return false;
        }
        if (exists && !S_ISREG(info.st_mode)) {
            file_ = std::fopen(target_.c_str(), "wb");
            return file_ != nullptr;
        }
        if (!create_temporary())
            return false;
        if (exists && fchmod(fileno(file_), info.st_mode & 07777) != 0) {
            discard();
            return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        discard();
        errno = ENOMEM;
        return false;
    }
}

// A name of this run's own beside the target ("x" creates it or fails): another run's leftover
// after a kill, with the same process number, only moves this one to the next name.
bool Output::create_temporary() {
    const std::string prefix = directory_of(target_) + ".vormesta-" + std::to_string(getpid());
    catch_stop_signals();
    for (int attempt = 0; attempt < 100; ++attempt) {
        pending_temporary = nullptr;
        temporary_ = prefix + "-" + std::to_string(attempt) + ".tmp";
        pending_temporary = temporary_.c_str();
        file_ = std::fopen(temporary_.c_str(), "wbx");
        if (file_)
            return true;
        const int error = errno;
        // Not ours to remove, whatever happens next.
        pending_temporary = nullptr;
        temporary_.clear();
        if (error != EEXIST)
            break;
    }
    return false;
}

bool Output::replace_target() {
    const StopSignalsHeld held; // the temporary must not be removed once it is the header
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0)
        return false;
    pending_temporary = nullptr;
    temporary_.clear();
    return true;
}

void Output::remove_temporary() {
    unlink(temporary_.c_str());
    pending_temporary = nullptr;
    temporary_.clear();
}

bool is_directory(std::FILE* file) {
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
}

std::uint64_t file_size(std::FILE* file) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

FileMatch match_file(std::FILE* file, const char* path) {
    struct stat open_info {};
    struct stat path_info {};
    if (fstat(fileno(file), &open_info) != 0)
        return FileMatch::unknown;
    if (stat(path, &path_info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FileMatch::different : FileMatch::unknown;
    const bool same = open_info.st_dev == path_info.st_dev && open_info.st_ino == path_info.st_ino;
    return same ? FileMatch::same : FileMatch::different;
}

} // namespace vormesta::platform
