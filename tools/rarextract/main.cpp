// rh_rarextract ARCHIVE MEMBER > FILE
//
// Writes one member of a RAR archive to standard output, read the way the program reads its
// media: the archive mounted as an ArchiveFileSource, the member's name resolved through
// SearchPaths and the member opened through FileRef, CRC checks and all. Names match as the
// program matches them ('\' or '/' between folders, letters in any case). Exit 0 on success;
// 1 with one line on standard error for bad usage, an archive that cannot be read, a member
// that is absent or damaged, or output that cannot be written.

#include "core/files/archive/archive_file_source.h"
#include "core/files/file_ref.h"
#include "core/files/mem_stream.h"
#include "core/files/search_paths.h"
#include "core/files/stream.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

int Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
int Fail(const char* format, ...) {
    std::fputs("rh_rarextract: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    return 1;
}

// All n bytes to standard output, across short writes and interruptions.
bool WriteAll(const char* data, size_t n) {
    while (n > 0) {
        const ssize_t written = write(STDOUT_FILENO, data, n);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        n -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return Fail("usage: rh_rarextract ARCHIVE MEMBER > FILE");
    const char* archiveName = argv[1];
    const char* memberName = argv[2];

    ArchiveFileSource archive;
    if (!archive.Mount(FileRef(archiveName))) return Fail("cannot read %s", archiveName);
    SearchPaths paths;
    paths.Add(FileRef::Member(&archive, ""));
    FileRef member;
    member.flags = FileRef::kArchive;
    member.name = String(memberName);
    std::unique_ptr<Stream> stream;
    if (paths.ResolveFile(member)) stream.reset(member.OpenFile(1));
    if (stream == nullptr) {
        return Fail("%s: no member %s, or it is damaged", archiveName, memberName);
    }

    // ArchiveFileSource::Open answers a MemStream, which shows the member's bytes (lent from
    // the mounted archive for a stored member): they go out as they are, without a copy.
    const auto* memory = dynamic_cast<const MemStream*>(stream.get());
    if (memory == nullptr) return Fail("%s: %s is not in memory", archiveName, memberName);
    if (!WriteAll(memory->text().data(), static_cast<size_t>(memory->text().length()))) {
        return Fail("cannot write %s: %s", memberName, std::strerror(errno));
    }
    return 0;
}
