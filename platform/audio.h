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

} // namespace vendrake
