// The registry calls over the registry file: each open reads the file afresh, each close that
// has changes merges them into what the file holds by then and replaces it atomically.

#include "platform/win32/registry_file.h"

#include <rimeholt/log.h>

#include <windows.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

// An open key: what RegCreateKeyExA gives out.
struct HKEY__ {
    std::string path;  // UTF-8 names joined by '\'
    REGSAM access = 0;
    bool created = false;  // made by the open: the close writes it even without values
    rh::win32::RegistryKey values;  // as read at the open, with this handle's changes
    std::vector<rh::win32::RegistryValue> changes;  // in the order they were set
};

namespace rh::win32 {
namespace {

constexpr REGSAM kQueryValue = 0x0001;
constexpr REGSAM kSetValue = 0x0002;

std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}

std::unordered_set<HKEY__*>& OpenKeys() {
    static std::unordered_set<HKEY__*> keys;
    return keys;
}

HKEY__* OpenKeyOf(HKEY key) {
    auto& keys = OpenKeys();
    return keys.count(key) != 0 ? key : nullptr;
}

bool Absolute(const char* path) { return path != nullptr && path[0] == '/'; }

// ${XDG_CONFIG_HOME:-$HOME/.config}/rimeholt; a relative XDG_CONFIG_HOME is ignored, as the XDG
// base directory rules say. Empty when there is no home either.
std::string StoreFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (Absolute(xdg)) return std::string(xdg) + "/rimeholt";
    const char* home = std::getenv("HOME");
    std::string base;
    if (Absolute(home)) {
        base = home;
    } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && Absolute(pw->pw_dir)) {
        base = pw->pw_dir;
    }
    return base.empty() ? std::string() : base + "/.config/rimeholt";
}

// Makes the folder and the ones above it (mode 0700, as the XDG rules ask for the
// configuration base); false when it cannot be made or written.
bool MakeFolder(const std::string& folder) {
    if (folder.empty()) return false;
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat st{};
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(folder.c_str(), W_OK | X_OK) == 0;
}

// The file's bytes, or nothing when it does not exist or cannot be read. A file over the cap
// is read only far enough to know it is too large.
std::optional<std::string> ReadFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string bytes;
    char buffer[16384];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
        if (bytes.size() > kRegistryFileCap) break;
    }
    close(fd);
    return bytes;
}

// What a file holds, with one log line for what did not parse. damaged tells whether a file
// exists that is not a registry file; raw (may be null) receives its bytes.
RegistryHive ReadHive(const std::string& path, bool* damaged, std::string* raw = nullptr) {
    *damaged = false;
    std::optional<std::string> bytes = ReadFile(path);
    if (!bytes) return RegistryHive{};
    if (raw != nullptr) *raw = *bytes;
    RegistryParseReport report;
    RegistryHive hive = RegistryHive::Parse(*bytes, &report);
    if (report.damaged) {
        *damaged = true;
        LogWarning("registry: %s is %s; its values read as absent", path.c_str(), report.damage);
    } else if (report.skippedLines > 0) {
        LogWarning("registry: %s: %zu line(s) left out that do not parse (the first is line %zu)", path.c_str(),
                   report.skippedLines, report.firstSkippedLine);
    }
    return hive;
}

bool WriteAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Replaces the file with the bytes so that a reader, or a crash at any moment, finds either the
// old file or the whole new one.
bool ReplaceFile(const std::string& folder, const std::string& path, const std::string& bytes) {
    std::string temp = folder + "/registry.XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);  // mode 0600
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    // The folder is not synced: after a crash the rename may be lost, leaving the old file
    // whole, which is all the settings need (and halves the time a save waits for the disk).
    return true;
}

// Merges the handle's changes into the file as it is now. Other processes doing the same wait
// for each other on a lock of the folder, so that no change is lost between read and rename.
bool Commit(const HKEY__& key) {
    std::string folder = StoreFolder();
    if (!MakeFolder(folder)) return false;
    std::string path = folder + "/registry";
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    while (flock(dir, LOCK_EX) != 0 && errno == EINTR) {
    }
    bool damaged = false;
    std::string before;
    RegistryHive hive = ReadHive(path, &damaged, &before);
    // A damaged file is kept for whoever wants to look at it, before it is first replaced.
    if (damaged && rename(path.c_str(), (folder + "/registry.bad").c_str()) != 0) {
        LogWarning("registry: cannot keep %s as registry.bad: %s", path.c_str(), std::strerror(errno));
    }
    RegistryKey& stored = hive.Ensure(key.path);
    for (const RegistryValue& change : key.changes) stored.Set(change);
    std::string bytes = hive.Serialize();
    // Settings saved as they were (the settings dialog's OK without a change) cost no write.
    bool unchanged = !damaged && bytes == before;
    bool ok = unchanged || (bytes.size() <= kRegistryFileCap && ReplaceFile(folder, path, bytes));
    if (!ok) LogError("registry: cannot write %s", path.c_str());
    flock(dir, LOCK_UN);
    close(dir);
    return ok;
}

// A name of the current code page as the file stores it; false when the file could not
// carry it on a line of its own.
bool StoredName(const char* name, std::string* out) {
    std::string_view text = name != nullptr ? name : "";
    if (text.size() > kRegistryNameCap || text.find_first_of("\r\n") != std::string_view::npos) return false;
    *out = Utf8FromCodePage(text);
    return true;
}

}  // namespace
}  // namespace rh::win32

using namespace rh::win32;

LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM desired, LPSECURITY_ATTRIBUTES,
                            PHKEY result, LPDWORD disposition) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(Lock());
    std::string path;
    if (key != HKEY_CURRENT_USER) {
        HKEY__* parent = OpenKeyOf(key);
        if (parent == nullptr) return ERROR_INVALID_HANDLE;
        path = parent->path;
    }
    // Empty names are dropped: "A\\B", "\A\B\" and "A\B" name the same key.
    std::string_view rest = subKey != nullptr ? subKey : "";
    while (!rest.empty()) {
        size_t slash = rest.find('\\');
        std::string name(rest.substr(0, slash));
        rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
        if (name.empty()) continue;
        std::string stored;
        if (!StoredName(name.c_str(), &stored)) return ERROR_INVALID_PARAMETER;
        if (!path.empty()) path += '\\';
        path += stored;
    }

    std::string folder = StoreFolder();
    bool damaged = false;
    RegistryHive hive = ReadHive(folder + "/registry", &damaged);
    bool exists = hive.Exists(path);
    // Windows creates a missing key whatever access was asked for.
    if ((!exists || (desired & kSetValue) != 0) && !MakeFolder(folder)) return ERROR_ACCESS_DENIED;

    auto* open = new HKEY__;
    open->path = path;
    open->access = desired;
    open->created = !exists;
    if (const RegistryKey* stored = hive.Find(path)) open->values = *stored;
    OpenKeys().insert(open);
    *result = open;
    if (disposition != nullptr) *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    std::lock_guard<std::mutex> lock(Lock());
    HKEY__* open = OpenKeyOf(key);
    if (open == nullptr) return ERROR_INVALID_HANDLE;
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) return ERROR_INVALID_PARAMETER;
    if ((open->access & kQueryValue) == 0) return ERROR_ACCESS_DENIED;
    std::string stored;
    if (!StoredName(name, &stored)) return ERROR_FILE_NOT_FOUND;
    const RegistryValue* value = open->values.Find(stored);
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    std::string bytes = value->ApiBytes();
    if (type != nullptr) *type = value->type;
    if (dataSize == nullptr) return ERROR_SUCCESS;
    DWORD room = *dataSize;
    *dataSize = static_cast<DWORD>(bytes.size());
    if (data == nullptr) return ERROR_SUCCESS;
    if (room < bytes.size()) return ERROR_MORE_DATA;
    std::memcpy(data, bytes.data(), bytes.size());
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
    std::lock_guard<std::mutex> lock(Lock());
    HKEY__* open = OpenKeyOf(key);
    if (open == nullptr) return ERROR_INVALID_HANDLE;
    if ((open->access & kSetValue) == 0) return ERROR_ACCESS_DENIED;
    if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
    RegistryValue value;
    if (!StoredName(name, &value.name)) return ERROR_INVALID_PARAMETER;
    value.type = type;
    if (dataSize != 0) value.data.assign(reinterpret_cast<const char*>(data), dataSize);
    open->values.Set(value);
    open->changes.push_back(std::move(value));
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key) {
    if (key == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(Lock());
    HKEY__* open = OpenKeyOf(key);
    if (open == nullptr) return ERROR_INVALID_HANDLE;
    OpenKeys().erase(open);
    bool ok = (open->changes.empty() && !open->created) || Commit(*open);
    delete open;
    return ok ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}
