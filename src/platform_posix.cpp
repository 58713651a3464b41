#include "platform.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <new>
#include <utility>

#include <fcntl.h>
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
// make see the usual status. Process 1 of a PID namespace (a container's) ignores a signal left
// at its default action; it still ends, with the status a shell gives that signal.
extern "C" void remove_temporary_and_stop(int signal_number) {
    if (const char* path = pending_temporary.load())
        unlink(path);
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

// A signal the caller ignores (nohup, a background job) stays ignored. A file-size limit
// (ulimit -f) makes the write fail, reported as such, instead of killing the run silently.
void catch_stop_signals() {
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
    sigaction(SIGXFSZ, &ignore, nullptr);
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

// Whether this user may write a file, from its owner and bits alone where they settle it (root,
// or the owner); otherwise by opening it for writing, which also hands the file over.
bool may_write(const char* path, const struct stat& info, std::FILE*& opened) {
    const uid_t user = geteuid();
    if (user == 0 || info.st_uid == user)
        return user == 0 || (info.st_mode & S_IWUSR) != 0;
    const int descriptor = ::open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    if (descriptor < 0)
        return false;
    if (!(opened = fdopen(descriptor, "wb")))
        ::close(descriptor);
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

// Read in large blocks by its callers: a buffer of its own would only cost a copy (and a look
// at the file to size it).
std::FILE* open_input(const char* path) {
    std::FILE* const file = std::fopen(path, "rb");
    if (file)
        std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

bool inspect_input(std::FILE* file, InputFacts& facts) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0)
        return false;
    facts.is_directory = S_ISDIR(info.st_mode);
    facts.size = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
    facts.id = id_of(info);
    return true;
}

Output::Opened Output::find_target(const char* path, const FileId& input, int& permissions) {
    // One look at the path. A link is then followed by the kernel, so that its checks
    // (fs.protected_symlinks) hold, and its end named by reading the links.
    struct stat info {};
    bool exists = lstat(path, &info) == 0;
    if (!exists && errno != ENOENT)
        return Opened::failed;
    target_ = path;
    if (exists && S_ISLNK(info.st_mode)) {
        const int descriptor = ::open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY);
        exists = descriptor >= 0;
        if (!exists && errno != ENOENT)
            return Opened::failed;
        if (exists && (fstat(descriptor, &info) != 0 || !(in_place_ = fdopen(descriptor, "wb")))) {
            ::close(descriptor);
            return Opened::failed;
        }
        target_ = follow_links(path);
    }
    if (!exists)
        return Opened::ok;
    if (id_of(info) == input)
        return Opened::is_input;
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return Opened::failed;
    }
    // Devices and FIFOs cannot be replaced: they are written as they are.
    if (!S_ISREG(info.st_mode)) {
        file_ = in_place_ ? std::exchange(in_place_, nullptr) : std::fopen(path, "wb");
        return file_ ? Opened::ok : Opened::failed;
    }
    // A header this user may not write is kept, as a plain write would have to.
    if (!in_place_ && !may_write(path, info, in_place_)) {
        errno = EACCES;
        return Opened::failed;
    }
    permissions = static_cast<int>(info.st_mode & 07777);
    return Opened::ok;
}

bool Output::open_in_place() {
    const int descriptor = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (descriptor >= 0 && !(in_place_ = fdopen(descriptor, "wb")))
        ::close(descriptor);
    return in_place_ != nullptr;
}

// A name of this run's own beside the target (O_EXCL creates it or fails): another run's
// leftover after a kill, with the same process number, only moves this one to the next name.
// Created with no more permission bits than the header will have, and published to the signal
// handler only once it is this run's own, with the stop signals held meanwhile.
bool Output::create_temporary(int permissions) {
    const std::string prefix = directory_of(target_) + ".vormesta-" + std::to_string(getpid());
    catch_stop_signals();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix + "-" + std::to_string(attempt) + ".tmp";
        const StopSignalsHeld held;
        const int descriptor = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                                      static_cast<mode_t>(permissions < 0 ? 0666 : permissions));
        if (descriptor < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        temporary_ = std::move(name);
        pending_temporary = temporary_.c_str();
        // The umask may have taken bits the existing header has: give them back.
        if ((permissions >= 0 && fchmod(descriptor, static_cast<mode_t>(permissions)) != 0) ||
            !(file_ = fdopen(descriptor, "wb"))) {
            const int error = errno;
            ::close(descriptor);
            remove_temporary();
            errno = error;
            return false;
        }
        std::setvbuf(file_, buffer_, _IOFBF, sizeof buffer_);
        return true;
    }
    return false;
}

Output::Replaced Output::replace_target() {
    const StopSignalsHeld held; // the temporary must not be removed once it is the header
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0)
        return errno == EPERM || errno == EBUSY || errno == EXDEV ? Replaced::refused
                                                                  : Replaced::failed;
    pending_temporary = nullptr;
    temporary_.clear();
    return Replaced::done;
}

void Output::remove_temporary() {
    const StopSignalsHeld held;
    unlink(temporary_.c_str());
    pending_temporary = nullptr;
    temporary_.clear();
}

bool truncate(std::FILE* file) {
    return ftruncate(fileno(file), 0) == 0;
}

} // namespace vormesta::platform
