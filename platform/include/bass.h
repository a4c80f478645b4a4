// The small audio library the saver carries as a resource of its own and loads at run time:
// the functions it calls, their pointer types (it binds them by name with GetProcAddress) and
// the numbers it passes. On Linux the library is the layer's own (platform/audio), over SDL2
// audio and libvorbisfile.
#pragma once

#include "win32/types.h"

// Sample and channel handles; 0 names none.
typedef DWORD HSAMPLE;
typedef DWORD HCHANNEL;

// BASS_Init's flag for 3D sound. Accepted; nothing is played in 3D.
#define BASS_DEVICE_3D 4
// A sample flag: the sample loops without a gap until stopped.
#define BASS_SAMPLE_LOOP 4
// The option of the global volume of samples: linear, 0 silent to 100 full.
#define BASS_CONFIG_GVOL_SAMPLE 4

extern "C" {

// Opens the output. Device 1 is the system's default output (44100 Hz asked for; the library
// resamples to whatever rate the output takes); device 0 is the no-sound device, on which every
// later call succeeds and nothing is heard. FALSE when the device cannot be opened. The window
// and the last argument are not used.
typedef BOOL (*BASS_Init_Function)(int device, DWORD frequency, DWORD flags, HWND window, const void* guid);
// 3D factors and their application: accepted and without effect.
typedef BOOL (*BASS_Set3DFactors_Function)(float distance, float rolloff, float doppler);
typedef void (*BASS_Apply3D_Function)(void);
// BASS_CONFIG_GVOL_SAMPLE takes the value as a signed number: below 0 is silent, above 100
// full. A change is ramped over one mixing block, so that steps do not click. Returns the value
// now in force, or (DWORD)-1 for another option.
typedef DWORD (*BASS_SetConfig_Function)(DWORD option, DWORD value);
// A whole Ogg Vorbis file from memory (memory TRUE, `length` bytes at file + offset), decoded at
// once; the caller's bytes are not kept. At most `maximum` channels of it play at once.
// 0 for a file it cannot decode (or a file name: only memory is read), a stream of more than
// two channels, a rate outside 1-384 kHz, or more than 20 minutes of sound.
typedef HSAMPLE (*BASS_SampleLoad_Function)(BOOL memory, const void* file, DWORD offset, DWORD length,
                                            DWORD maximum, DWORD flags);
// A channel of the sample that is not playing: a stopped one, or a new one while fewer than the
// sample's maximum exist. 0 when all of them play, or for an unknown sample.
typedef HCHANNEL (*BASS_SampleGetChannel_Function)(HSAMPLE sample, BOOL onlyNew);
// Plays the channel (from the start with restart TRUE, else from where it stopped). FALSE for
// an unknown channel.
typedef BOOL (*BASS_ChannelPlay_Function)(DWORD channel, BOOL restart);

BOOL BASS_Init(int device, DWORD frequency, DWORD flags, HWND window, const void* guid);
BOOL BASS_Set3DFactors(float distance, float rolloff, float doppler);
void BASS_Apply3D(void);
DWORD BASS_SetConfig(DWORD option, DWORD value);
HSAMPLE BASS_SampleLoad(BOOL memory, const void* file, DWORD offset, DWORD length, DWORD maximum, DWORD flags);
HCHANNEL BASS_SampleGetChannel(HSAMPLE sample, BOOL onlyNew);
BOOL BASS_ChannelPlay(DWORD channel, BOOL restart);

}  // extern "C"
