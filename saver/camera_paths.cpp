#include "saver/camera_paths.h"

#include "core/data/data_node.h"
#include "core/data/data_reader.h"
#include "core/files/file_ref.h"
#include "core/files/stream.h"

#include <rimeholt/log.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

bool IsPositionType(const String& type) {
    return type.length() == 3 && std::memcmp(type.data(), "pos", 3) == 0;
}

struct StreamCloser {
    void operator()(Stream* stream) const {
        stream->Close();
        delete stream;
    }
};

}  // namespace

bool LoadCameraPath(CameraPathPlayer& player, FileSource* mediaArchive, const String& mediaRoot, const String& name) {
    // The reader does not own the stream it reads: the stream is ours to free, after the
    // reader (declared later) is gone.
    std::unique_ptr<Stream, StreamCloser> stream;
    BinaryDataReader reader;
    player.GetPositionTrack().Clear();
    player.GetRotationTrack().Clear();

    FileRef ref;
    ref.flags = FileRef::kDisk | FileRef::kArchive;
    ref.archive = mediaArchive;
    ref.name = ConcatStrings(ConcatStringText(mediaRoot, "/"), name);
    stream.reset(ref.OpenFile(1));
    if (!stream) return false;
    DataNode* root = reader.OpenStream(stream.get());
    if (root == nullptr) return false;
    // A load that stops early still leaves the children it reached; their keys count.
    root->Load(0, 0);

    const DataNodeMap& children = root->Children();
    const DataNodeMap::Node* entry = children.first();
    for (int32_t i = 0; i < children.count(); ++i, entry = entry->next) {
        const DataNode* child = entry->value;
        TrackKey key;
        if ((child->GetFlags() & kDataNodeCompound) != 0 || child->GetSize() != static_cast<int32_t>(sizeof key) ||
            !child->CopyData(&key, sizeof key)) {
            continue;
        }
        if (IsPositionType(child->GetTypeName())) {
            player.GetPositionTrack().AddKey(key);
        } else {
            player.GetRotationTrack().AddKey(key);
        }
    }
    reader.CloseDataFile();
    return true;
}

String CameraPathList::StepAtRandom() {
    const int32_t steps = std::rand() % remaining_.count();
    for (int32_t i = 0; i < steps; ++i) remaining_.SetCursor(remaining_.cursor()->next);
    return remaining_.Current();
}

bool CameraPathList::ChooseFirst(String& name) {
    if (remaining_.count() == 0) return false;
    name = StepAtRandom();
    return true;
}

bool CameraPathList::ChooseNext(String& name) {
    if (count() == 0) return false;
    if (remaining_.count() > 0) {
        // Off the first name the cursor goes forward: back from there would wrap to the last.
        played_.Append(remaining_.cursor() == remaining_.first() ? remaining_.Pop() : remaining_.Take());
    }
    if (remaining_.count() == 0) {
        while (played_.count() > 0) remaining_.Append(played_.Take());
    }
    name = StepAtRandom();
    return true;
}

bool CameraPathFlights::LoadAndCheck(const String& name) {
    current_ = name;
    LoadCameraPath(player_, archive_, mediaRoot_, name);
    TimeRange range;
    const bool usable = player_.GetTimeRange(range);
    rh::LogTrace("camera path %s%s", name.Text() != nullptr ? name.Text() : "", usable ? "" : ": no time range, passed over");
    return usable;
}

bool CameraPathFlights::StartFirst() {
    String name;
    if (!list_.ChooseFirst(name)) return false;
    return LoadAndCheck(name) || StartNext();
}

bool CameraPathFlights::StartNext() {
    const int32_t tries = 2 * list_.count();
    String name;
    for (int32_t i = 0; i < tries; ++i) {
        if (!list_.ChooseNext(name)) break;
        if (LoadAndCheck(name)) return true;
    }
    player_.GetPositionTrack().Clear();
    player_.GetRotationTrack().Clear();
    return false;
}

bool CameraPathFade(float pathTime, float end, float& opacity) {
    if (pathTime < 10.0f) {
        opacity = 1.0f - 0.1f * pathTime;
        return true;
    }
    if (pathTime > end - 10.0f) {
        opacity = 1.0f - 0.1f * (end - pathTime);
        return true;
    }
    return false;
}
