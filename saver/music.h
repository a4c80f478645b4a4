// The saver's music: the audio library it carries as resource 123 of type "BASS", written to a
// temporary file, loaded from there and bound by name, and one looping tune faded in
// over the first four seconds. Process-wide: one library for the run.
//
// Every step is checked: when the library cannot be found, written, loaded or bound, or a
// sound call has no library behind it, the saver runs silent and nothing is shown or logged.
#pragma once

#include "core/files/file_ref.h"
#include "saver/entry.h"

#include <bass.h>
#include <windows.h>

// The loaded library: its temporary file, its module and the seven entry points the saver
// calls. module is null (and every entry null) when it is not loaded.
struct SoundLibrary {
    char tempFileName[MAX_PATH] = {};
    HMODULE module = nullptr;
    BASS_Init_Function Init = nullptr;
    BASS_Set3DFactors_Function Set3DFactors = nullptr;
    BASS_Apply3D_Function Apply3D = nullptr;
    BASS_SetConfig_Function SetConfig = nullptr;
    BASS_SampleLoad_Function SampleLoad = nullptr;
    BASS_SampleGetChannel_Function SampleGetChannel = nullptr;
    BASS_ChannelPlay_Function ChannelPlay = nullptr;
};

// The process's library state, for the scene and for tests.
const SoundLibrary& TheSoundLibrary();

// Writes the library image to a fresh temporary file (created exclusively, owner-only), loads
// it and binds its entry points. On any failure nothing stays loaded and the file is gone.
// Does nothing when the library is already loaded.
void LoadSoundLibrary();

// Opens the output: device 1, else the no-sound device 0; 3D factors (-1, 0.1, -1) applied;
// sample volume 0, so that music starts silent.
void StartSound(HWND window);

// The whole file read into a copy and handed to the library as a sample of at most 20 playbacks
// with the sample flags (BASS_SAMPLE_LOOP loops). 0 when the file cannot be read, the library
// refuses it or is not loaded.
int LoadMusic(FileRef file, DWORD flags);

// Plays the sample from the start on a new channel; nothing for sample 0.
void PlayMusic(int sample);

// The global sample volume, 0 to 100 (the library clamps what lies outside).
void SetMusicVolume(int volume);
// The volume the last SetMusicVolume or StartSound handed to the library; -1 when none was
// since the library was loaded. For tests: the library itself cannot be asked.
int LastMusicVolume();

// The fade-in: Volume x the elapsed milliseconds x 0.00025, at most Volume, truncated, so the
// music reaches its volume four seconds after the scene loaded.
int MusicFadeVolume(int volume, DWORD elapsedMs);

// Unloads the library and deletes its temporary file; the library stops its own output. Does
// nothing when it is not loaded.
void UnloadSoundLibrary();

// The end of a run's sound (the scene application's ShutdownSound): in the modes that play
// (full screen and test), with Music on and Volume not 0, the sample volume goes to 0; then the
// library is unloaded and its file deleted.
void ShutdownMusic(SaverMode mode, int volume, bool music);
