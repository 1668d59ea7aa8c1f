#pragma once
// Music playback in the shape the program calls it: initialise the output,
// start it, open a stream on an MP3 file, play it. Behind it, libmpg123
// decodes and libout123 plays on the system's default output, on a thread of
// its own, once, from the start of the file. Failures (no file, a bad file,
// no output device) make the calls report false or 0 and nothing plays.
#include "platform/wgl.h"

#include <cstdint>

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

// Details of this implementation: BASS_Init opens the output for 16-bit
// stereo at freq, which must be an MPEG rate; when it cannot, every later call
// fails as well. Each stream is decoded to that format, resampled by libmpg123
// when the file's rate differs, and is accepted only when its first block
// decodes. Memory blocks and byte ranges are not offered (mem, offset and
// length must be 0). One stream plays at a time: playing another, or the same
// one again, stops the one playing. At process exit the playing stream stops
// at its next block.

// Test hooks; the program never calls them.
// From the next BASS_Init on, play through libout123's driver `driver` on
// `device` instead of the default output: ("wav", "out.wav") writes the sound
// into a WAV file (a file writer given no device writes to stdout). A null
// driver goes back to the default output.
void SetAudioOutputForTesting(const char* driver, const char* device);
// What the end of the process does to the audio: stops the playing stream at
// its next block (with waitForEnd, lets it play to its end first), closes the
// output, which completes a file writer's file, and forgets every stream.
// BASS_Init may be called again afterwards.
void ShutdownAudioForTesting(bool waitForEnd);

} // namespace vendrake
