#include "platform/crt/paths.h"

#include <rimeholt/file_lookups.h>

#include <dirent.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace rh::crt {
namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

std::string LowerAscii(const std::string& text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) { return LowerAscii(c); });
    return out;
}

// A folder's names by their ASCII lower case, each mapped to the first entry of that spelling
// in the folder's listing order, which is the entry a scan of the listing finds first. Without
// it, every name that does not exist as written costs a scan of its whole folder: a loader that
// tries a few folders and extensions per picture scans a folder of hundreds of light maps for
// each of them.
struct FolderIndex {
    dev_t device = 0;
    ino_t inode = 0;
    // The folder's modification and change times, seconds and nanoseconds.
    int64_t modified[2] = {0, 0};
    int64_t changed[2] = {0, 0};
    off_t size = 0;
    std::unordered_map<std::string, std::string> names;
    std::unordered_set<std::string> exact;
};

template <typename Stamp>
bool SameTime(const int64_t (&kept)[2], const Stamp& stamp) {
    return kept[0] == int64_t(stamp.tv_sec) && kept[1] == int64_t(stamp.tv_nsec);
}

template <typename Stamp>
void KeepTime(int64_t (&kept)[2], const Stamp& stamp) {
    kept[0] = int64_t(stamp.tv_sec);
    kept[1] = int64_t(stamp.tv_nsec);
}

// An index stays right while the folder's own times, size and identity are those it was made
// with: adding, removing or renaming an entry changes the folder's modification and change
// times. A folder changed so lately that a later change could carry the same time stamp (file
// systems stamp from a coarse clock, some to the second or two) is scanned without keeping the
// index.
constexpr time_t kSettledSeconds = 3;
constexpr size_t kMaxIndexedFolders = 64;
constexpr size_t kMaxIndexedNames = 1 << 16;

std::mutex g_indexLock;
std::unordered_map<std::string, FolderIndex>& Indexes() {
    static auto* indexes = new std::unordered_map<std::string, FolderIndex>;
    return *indexes;
}

bool Matches(const FolderIndex& index, const struct stat& st) {
    return index.device == st.st_dev && index.inode == st.st_ino && index.size == st.st_size &&
           SameTime(index.modified, st.st_mtim) && SameTime(index.changed, st.st_ctim);
}

// The folder states read by the thread's open lookup batches (rimeholt/file_lookups.h): the
// answer of stat for each folder asked about, failures included. Null outside a batch.
struct FolderReading {
    int result = 0;
    struct stat st {};
};
thread_local std::unordered_map<std::string, FolderReading>* t_readings = nullptr;
thread_local int t_batchDepth = 0;

// stat of a folder, read once per batch.
int StatFolder(const std::string& folder, struct stat& st) {
    if (t_readings == nullptr) return stat(folder.c_str(), &st);
    auto [reading, fresh] = t_readings->try_emplace(folder);
    if (fresh) reading->second.result = stat(folder.c_str(), &reading->second.st);
    st = reading->second.st;
    return reading->second.result;
}

enum class Lookup { kFound, kMissing, kUnreadable };

// The entry of `folder` whose name equals `part` without regard to ASCII case (the first in
// listing order), into `part`.
Lookup FindInFolder(const std::string& folder, std::string& part) {
    const std::string key = LowerAscii(part);
    struct stat st;
    if (StatFolder(folder, st) != 0 || !S_ISDIR(st.st_mode)) return Lookup::kUnreadable;
    std::lock_guard<std::mutex> lock(g_indexLock);
    auto& indexes = Indexes();
    auto kept = indexes.find(folder);
    if (kept != indexes.end() && Matches(kept->second, st)) {
        auto found = kept->second.names.find(key);
        if (found == kept->second.names.end()) return Lookup::kMissing;
        part = found->second;
        return Lookup::kFound;
    }

    FolderIndex index;
    index.device = st.st_dev;
    index.inode = st.st_ino;
    KeepTime(index.modified, st.st_mtim);
    KeepTime(index.changed, st.st_ctim);
    index.size = st.st_size;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return Lookup::kUnreadable;
    bool found = false;
    bool complete = true;
    while (dirent* entry = readdir(dir)) {
        const std::string name(entry->d_name);
        const std::string lower = LowerAscii(name);
        if (!found && lower == key) {
            part = name;
            found = true;
        }
        if (index.exact.size() < kMaxIndexedNames) {
            index.names.emplace(lower, name);
            index.exact.insert(name);
        } else {
            complete = false;
        }
    }
    closedir(dir);

    const bool settled = st.st_mtim.tv_sec + kSettledSeconds < time(nullptr);
    if (kept != indexes.end()) indexes.erase(kept);
    if (settled && complete) {
        if (indexes.size() >= kMaxIndexedFolders) indexes.clear();
        indexes.emplace(folder, std::move(index));
    }
    return found ? Lookup::kFound : Lookup::kMissing;
}

// The answer for `path` from the kept index of the folder that holds its last component, when
// there is one and the folder exists as written. Only for names without empty components,
// whose walk would give back the folder part unchanged.
bool FromKeptIndex(const std::string& path, std::string& out, bool& missing) {
    if (path.back() == '/' || path.find("//") != std::string::npos) return false;
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    {
        std::lock_guard<std::mutex> lock(g_indexLock);
        if (Indexes().find(folder) == Indexes().end()) return false;
    }
    struct stat st;
    if (StatFolder(folder, st) != 0) return false;
    std::lock_guard<std::mutex> lock(g_indexLock);
    auto kept = Indexes().find(folder);
    if (kept == Indexes().end() || !Matches(kept->second, st)) return false;
    const FolderIndex& index = kept->second;
    if (index.exact.count(last) != 0) {
        out = path;
        return true;
    }
    auto found = index.names.find(LowerAscii(last));
    if (found == index.names.end()) {
        out = path;
        missing = true;
        return true;
    }
    out = slash == std::string::npos ? found->second : path.substr(0, slash + 1) + found->second;
    return true;
}

}  // namespace

void ForgetFolderReadings() {
    if (t_readings != nullptr) t_readings->clear();
}

std::string DiskPath(const char* name, bool* missing) {
    std::string path(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    bool none = false;
    if (missing == nullptr) missing = &none;
    *missing = false;
    if (path.empty()) return path;
    std::string known;
    if (FromKeptIndex(path, known, *missing)) return known;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return path;

    std::string resolved = path[0] == '/' ? "/" : "";
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;

        std::string exact = resolved + part;
        if (lstat(exact.c_str(), &st) != 0) {
            // A folder that cannot be read leaves the whole name as written.
            // Folders are kept under their names without the last '/', as FromKeptIndex asks.
            const std::string folder = resolved.empty()  ? std::string(".")
                                       : resolved == "/" ? resolved
                                                         : resolved.substr(0, resolved.size() - 1);
            const Lookup found = FindInFolder(folder, part);
            if (found == Lookup::kUnreadable) return path;
            if (found == Lookup::kMissing) {
                // Nothing lies below a folder that exists in no case: the walk would find the
                // next folder unreadable and give back the name as written.
                if (path.find_first_not_of('/', end) != std::string::npos) {
                    *missing = true;
                    return path;
                }
                if (end == path.size()) *missing = true;
            }
        }
        resolved += part;
        if (end < path.size()) resolved += '/';
    }
    return resolved;
}

}  // namespace rh::crt

namespace rh {

FileLookupBatch::FileLookupBatch() {
    if (crt::t_batchDepth++ == 0) crt::t_readings = new std::unordered_map<std::string, crt::FolderReading>;
}

FileLookupBatch::~FileLookupBatch() {
    if (--crt::t_batchDepth == 0) {
        delete crt::t_readings;
        crt::t_readings = nullptr;
    }
}

}  // namespace rh
