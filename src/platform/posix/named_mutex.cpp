// Named mutexes shared by all processes of the user, built on flock(2).
//
// Every name has a lock file in a directory private to the user:
// $XDG_RUNTIME_DIR/brinefall-mutex/, or /tmp/brinefall-mutex-<uid>/ where
// that is unset or unusable; the directory must belong to the user and is
// kept at mode 0700. The file's name is the mutex name with every byte
// outside [A-Za-z0-9._-] written as %XX and "m-" put in front, so names with
// "\" or "/" stay inside the directory; very long names are cut and get a
// hash of the whole name. "Local\X" is the same mutex as "X", as in a Windows
// session. Processes see the same mutexes when they agree on XDG_RUNTIME_DIR,
// as a started program does by inheriting its launcher's environment.
//
// Every open handle holds a shared flock on its name's file for its whole
// life. A mutex exists exactly while some open file description holds such a
// lock; the kernel drops the lock when the last descriptor closes, also when
// the process dies by a signal, so a mutex vanishes with its last holder
// without any clean-up. The descriptors are close-on-exec, and started
// programs get none of the caller's descriptors, so a started program never
// keeps its launcher's mutexes alive.
//
// The test for existence is an exclusive non-blocking flock: it fails while a
// shared lock is held. Left alone, two such probes would see each other's
// exclusive lock and both answer "exists", and a Create deciding whether it
// made a new mutex would race with them. So Create and the probe run under a
// second, exclusive lock on the directory's file "guard": they are
// serialised among themselves, and inside the guard an exclusive lock on a
// name's file can only be held by the one operation that took it. A handle
// being closed needs no guard: dropping its lock is atomic, and a probe sees
// the mutex either before or after. The files are never removed (removing
// one could let a new handle lock a file no longer reachable by its name);
// their presence means nothing, only their locks do.
//
// Ownership is a thread's, as on Windows, and can be given up through any
// handle of the process to that mutex: a Create that makes a new mutex with
// initial ownership makes the calling thread its owner, a Create that opens
// an existing one gives no ownership, and there is no operation that waits
// for ownership. So ownership never passes between processes, and this
// process keeps its handles' ownership in a table by name.
#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/registry.h"

namespace plat {

namespace {

constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorNotOwner = 288;
constexpr size_t kMaxEscapedName = 200;

// Closes a descriptor when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

int Flock(int fd, int operation) {
    for (;;) {
        if (::flock(fd, operation) == 0) {
            return 0;
        }
        if (errno != EINTR) {
            return errno;
        }
    }
}

// Makes sure `path` is a directory of this user that nobody else may enter.
bool PrepareDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        return false;
    }
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
        return false;
    }
    return true;
}

// The directory of the lock files; empty if there is none to be had. With
// `create` false a missing directory is not made (nothing can exist then).
std::string MutexDirectory(bool create) {
    auto usable = [create](const std::string& path) {
        if (create) {
            return PrepareDirectory(path);
        }
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
    };
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        std::string path = std::string(runtime) + "/brinefall-mutex";
        if (usable(path)) {
            return path;
        }
    }
    std::string path = "/tmp/brinefall-mutex-" + std::to_string(::geteuid());
    return usable(path) ? path : std::string();
}

uint64_t Fnv1a(std::string_view text) {
    uint64_t hash = 14695981039346656037ull;
    for (const char c : text) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

// The lock file's name for a mutex name.
std::string FileName(std::string_view name) {
    if (name.starts_with("Local\\")) {
        name.remove_prefix(6);
    }
    std::string escaped = "m-";
    for (const char c : name) {
        const auto b = static_cast<uint8_t>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
            b == '.' || b == '_' || b == '-') {
            escaped += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", b);
            escaped += hex;
        }
    }
    if (escaped.size() > kMaxEscapedName) {
        char hash[24];
        std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(Fnv1a(name)));
        escaped.resize(kMaxEscapedName - 17);
        escaped += hash;
    }
    return escaped;
}

bool IsUnnamed(const char* name) {
    return name == nullptr || name[0] == '\0';
}

// Who in this process owns a mutex; shared by the process's handles to it.
struct Ownership {
    std::thread::id owner;
    uint32_t count = 0;  // times the owner may still release it
};

std::mutex& TableLock() {
    static std::mutex lock;
    return lock;
}

// The ownership record of the mutex with the lock file `path`, shared with
// this process's other handles to it; a new mutex gets a new record, even if
// a handle to its predecessor is still being closed. Call with TableLock()
// held.
std::shared_ptr<Ownership> SharedOwnership(const std::string& path, bool isNew) {
    static std::map<std::string, std::weak_ptr<Ownership>> table;
    for (auto it = table.begin(); it != table.end();) {
        it = it->second.expired() ? table.erase(it) : std::next(it);
    }
    std::weak_ptr<Ownership>& slot = table[path];
    std::shared_ptr<Ownership> record = isNew ? nullptr : slot.lock();
    if (!record) {
        record = std::make_shared<Ownership>();
        slot = record;
    }
    return record;
}

}  // namespace

struct NamedMutex::Impl {
    int fd = -1;  // holds the shared lock; -1 for a mutex without a name
    std::shared_ptr<Ownership> ownership;
};

NamedMutex::NamedMutex(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

NamedMutex::~NamedMutex() {
    if (!impl_) {
        return;
    }
    if (impl_->fd >= 0) {
        ::close(impl_->fd);
    }
    const std::lock_guard<std::mutex> guard(TableLock());
    impl_->ownership.reset();
}

std::unique_ptr<NamedMutex> NamedMutex::Create(const char* name, bool initiallyOwned) {
    auto impl = std::make_unique<Impl>();
    bool isNew = true;
    if (!IsUnnamed(name)) {
        const std::string dir = MutexDirectory(true);
        if (dir.empty()) {
            return nullptr;
        }
        const Fd guard(
            ::open((dir + "/guard").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (guard.get() < 0 || Flock(guard.get(), LOCK_EX) != 0) {
            return nullptr;
        }
        const std::string path = dir + "/" + FileName(name);
        Fd lock(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (lock.get() < 0) {
            return nullptr;
        }
        // Under the guard an exclusive lock succeeds exactly when no handle
        // holds the mutex; it is then turned into this handle's shared lock
        // before anyone else can look.
        const int probe = Flock(lock.get(), LOCK_EX | LOCK_NB);
        if (probe != 0 && probe != EWOULDBLOCK) {
            return nullptr;
        }
        isNew = probe == 0;
        if (Flock(lock.get(), LOCK_SH) != 0) {
            return nullptr;
        }
        impl->fd = lock.release();
        const std::lock_guard<std::mutex> table(TableLock());
        impl->ownership = SharedOwnership(path, isNew);
    } else {
        impl->ownership = std::make_shared<Ownership>();
    }
    if (initiallyOwned && isNew) {
        const std::lock_guard<std::mutex> table(TableLock());
        impl->ownership->owner = std::this_thread::get_id();
        impl->ownership->count = 1;
    }
    // As CreateMutexA, the last-error code tells whether the mutex was there.
    SetLastErrorCode(isNew ? 0 : kErrorAlreadyExists);
    return std::make_unique<NamedMutex>(std::move(impl));
}

bool NamedMutex::Release() {
    const std::lock_guard<std::mutex> table(TableLock());
    Ownership& ownership = *impl_->ownership;
    if (ownership.count == 0 || ownership.owner != std::this_thread::get_id()) {
        SetLastErrorCode(kErrorNotOwner);
        return false;
    }
    --ownership.count;
    return true;
}

bool NamedMutexExists(const char* name) {
    if (IsUnnamed(name)) {
        return false;
    }
    const std::string dir = MutexDirectory(false);
    if (dir.empty()) {
        return false;
    }
    const Fd guard(::open((dir + "/guard").c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (guard.get() < 0 || Flock(guard.get(), LOCK_EX) != 0) {
        return false;
    }
    const Fd lock(::open((dir + "/" + FileName(name)).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (lock.get() < 0) {
        return false;
    }
    // Taken only for the test; closing the descriptor gives it back.
    return Flock(lock.get(), LOCK_EX | LOCK_NB) == EWOULDBLOCK;
}

}  // namespace plat
