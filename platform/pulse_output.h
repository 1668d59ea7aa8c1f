#pragma once
// Sound through a PulseAudio server, which PipeWire also serves
// (pipewire-pulse). The stream names the program to the server, so mixers
// show it and remember its volume as "Vendrake" playing music. The server is
// asked where playback is fifty times a second, so NextHeardAt knows when
// each frame will be heard.
#include "platform/sound_output.h"

#include <memory>

namespace vendrake {

// A stream of 16-bit stereo at rate on the server's default sink, or null
// when no server answers or the stream does not open. A server is never
// started for it. Blocks until the server answers: call it on the player's
// thread.
std::unique_ptr<TSoundOutput> OpenPulseOutput(long rate);

} // namespace vendrake
