#pragma once
// Music playback in the shape the program calls it: initialise the output,
// start it, open a stream on an MP3 file, play it. Behind it, libmpg123
// decodes, and a thread of the player's own opens the output and plays the
// song once, in step with the picture's clock: every call returns at once,
// however long a sound device takes or if it never answers. Failures make the
// calls report false or 0 (a bad argument, no file, a bad file) or leave the
// presentation silent (no output device).
#include "platform/wgl.h"

#include <cstdint>
#include <string>

namespace vendrake {

using HSTREAM = std::uint32_t;

// device -1 is the default output; freq the output rate in Hz.
std::int32_t BASS_Init(std::int32_t device, std::uint32_t freq, std::uint32_t flags, HWND win);
std::int32_t BASS_Start();
// mem 0: file is a zero-terminated file name; offset 0 and length 0 take the
// whole file. 0 when the stream cannot be opened.
HSTREAM BASS_StreamCreateFile(std::int32_t mem, const void* file, std::uint64_t offset, std::uint64_t length,
                              std::uint32_t flags);
// Starts playing the stream from its beginning; flush is the classic BOOL
// (the program passes -1).
std::int32_t BASS_StreamPlay(HSTREAM handle, std::int32_t flush, std::uint32_t flags);

// Details of this implementation: BASS_Init accepts the default device and
// an MPEG rate for freq, once, and has the player thread open the output for
// 16-bit stereo at freq: a PulseAudio server (which PipeWire also serves)
// through libpulse, as "Vendrake" playing music, else ALSA through libout123.
// When neither opens, the streams are accepted and nothing plays. Each stream
// is decoded to the output's format, resampled by libmpg123 when the file's
// rate differs, and is accepted only when its first block decodes; this
// check happens in the caller's thread. Memory blocks and byte ranges are not
// offered (mem, offset and length must be 0). One stream plays at a time:
// playing another, or the same one again, stops the one playing. Nothing is
// torn down at process exit: the song ends where it is and the exit releases
// the device.

// The performance-counter reading (platform/clock.h) at which the song's
// time is 0: the picture's clock starts there. Through PulseAudio the sample
// heard at counter c is the song's sample at (c - origin) / frequency: the
// player skips what it missed while the output opened, and puts the song back
// in place whenever it drifts more than 20 ms (a late start, the output
// running dry). libout123's outputs (ALSA, a test's file writer) cannot tell
// when a sample will be heard: there the song starts where the picture's
// clock is at that moment, and is left to run. Until the origin is set, a
// song counts from the moment it was asked to play through PulseAudio, and
// starts from its beginning through libout123.
void SetMusicClockOrigin(std::int64_t performanceCount);

// The output the music went out through ("pulse", "alsa", or the libout123
// driver a test named) once a song has started; empty until then, and for
// good when no output opened. After ShutdownAudioForTesting it still names
// the output that was closed.
std::string AudioOutputDriver();

// Test hooks; the program never calls them.
// From the next BASS_Init on, play through libout123's driver `driver` on
// `device` instead of the preferred outputs: ("wav", "out.wav") writes the
// sound into a WAV file (a file writer given no device writes to stdout). A
// null driver goes back to the preferred outputs.
void SetAudioOutputForTesting(const char* driver, const char* device);
// Waits for the player thread: with waitForEnd until the song has played to
// its end, otherwise until it stops at its next block. Then closes the output,
// which completes a file writer's file, and forgets every stream and the
// clock origin. BASS_Init may be called again afterwards.
void ShutdownAudioForTesting(bool waitForEnd);

} // namespace vendrake
