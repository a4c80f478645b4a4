// The saver's camera flights: reading a camera-path file into the path player, and choosing
// which of the listed paths flies next -- at random, without repeating a path until every
// listed path has flown.
//
// A camera-path file is a data file (".cam", magic "ZWF Binary 1.0") whose root holds one leaf
// of 32 bytes per key, a TrackKey as stored in memory. A leaf of type name "pos" (the exact
// bytes) is a position key; a leaf of any other type a rotation key. Key times count in units
// of 100 ms.
#pragma once

#include "core/containers/linked_list.h"
#include "core/text/string.h"
#include "scene/camera_path_player.h"

#include <cstdint>
#include <utility>

class FileSource;

// Clears both tracks of the player, then fills them from the file `mediaRoot` + "/" + `name`,
// looked for as a disk file first and then as a member of `mediaArchive` (null: disk only).
// Leaves that are not exactly 32 bytes, and compound children, are skipped; keys whose floats
// are not finite are refused by the tracks. The stream and the node tree are freed before
// returning. False when the file does not open or is not a data file; the tracks are then
// empty. A file that opens but holds no usable key answers true with empty tracks.
bool LoadCameraPath(CameraPathPlayer& player, FileSource* mediaArchive, const String& mediaRoot, const String& name);

// The two path lists with their cursors. Names are added in script order; after adding, the
// cursor rests on the last name. Random draws use the C runtime's rand, so the order of the
// draws is part of the behaviour: a run seeded alike flies the same paths in the same order.
class CameraPathList {
public:
    CameraPathList() = default;
    CameraPathList(const CameraPathList&) = delete;
    CameraPathList& operator=(const CameraPathList&) = delete;

    // Appends a name after the remaining list's cursor.
    void Add(const String& name) { remaining_.Append(name); }

    // The first path: steps the remaining list's cursor rand() mod count times forward and
    // answers the name under it, which stays in the list. False, drawing nothing, when the
    // list is empty.
    bool ChooseFirst(String& name);

    // The path under the cursor has ended: its name leaves the remaining list (the cursor goes
    // back one name, or forward when it was on the first) for the played list. An emptied
    // remaining list takes every played name back, each from the played list's cursor. Then
    // the cursor steps rand() mod count times forward and the name under it is answered.
    // False, drawing nothing, when both lists are empty.
    bool ChooseNext(String& name);

    // Names in both lists.
    int32_t count() const { return remaining_.count() + played_.count(); }
    const LinkedList<String>& remaining() const { return remaining_; }
    const LinkedList<String>& played() const { return played_; }

private:
    // Steps the remaining list's cursor rand() mod count times; its name.
    String StepAtRandom();

    LinkedList<String> remaining_;
    LinkedList<String> played_;
};

// Loads the flights of a path list into a player, passing over paths that give the player no
// time range (a missing, damaged or empty file): without that, one broken file would stop the
// flights for the rest of the run, because the frame only switches paths while the player has
// a range.
class CameraPathFlights {
public:
    // Both must outlive the flights. `mediaArchive` may be null (disk files only).
    CameraPathFlights(CameraPathList& list, CameraPathPlayer& player, FileSource* mediaArchive, String mediaRoot)
        : list_(list), player_(player), archive_(mediaArchive), mediaRoot_(std::move(mediaRoot)) {}

    // Loads the first path (CameraPathList::ChooseFirst); when it has no time range, goes on
    // as StartNext does. False when no path of the list plays (the player's tracks are then
    // empty and the camera is the free camera's).
    bool StartFirst();
    // Loads the next path (CameraPathList::ChooseNext), and the one after while a loaded path
    // has no time range. Gives up after twice as many tries as the lists hold names: so many
    // draws in a row always include a whole round of the list, so by then every path has
    // failed. False then, with empty tracks.
    bool StartNext();

    // The name of the path last loaded (empty before the first).
    const String& current() const { return current_; }

private:
    bool LoadAndCheck(const String& name);

    CameraPathList& list_;
    CameraPathPlayer& player_;
    FileSource* archive_;
    String mediaRoot_;
    String current_;
};

// The opacity of the black quad over the frame at `pathTime` on a path whose range ends at
// `end`: 1 - 0.1 x pathTime below 10 units, else 1 - 0.1 x (end - pathTime) above end - 10, so
// that a path fades in over its first second and out over its last. False (no quad) between.
bool CameraPathFade(float pathTime, float end, float& opacity);
