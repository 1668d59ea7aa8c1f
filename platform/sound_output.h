#pragma once
// A sound output as the music player drives it: interleaved 16-bit stereo at
// one rate, fed from the player's thread. Two kinds stand behind it: a
// PulseAudio stream (pulse_output.h), which also serves PipeWire and can tell
// when what is written will be heard, and libout123's output modules
// (out123_output.h), which cannot.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vendrake {

class TSoundOutput {
public:
    TSoundOutput() = default;
    // Plays out what is queued, then closes.
    virtual ~TSoundOutput() = default;
    TSoundOutput(const TSoundOutput&) = delete;
    TSoundOutput& operator=(const TSoundOutput&) = delete;

    // The name AudioOutputDriver reports for it.
    virtual std::string Driver() const = 0;
    // Makes the output ready to play; called once, before the first Write.
    virtual bool Start() = 0;
    // Waits until the output takes more sound, then tells how many bytes it
    // takes without waiting. 0 when Wake was called first, -1 once it failed.
    virtual std::int64_t Writable() = 0;
    // Queues whole frames; false once the output failed.
    virtual bool Write(const unsigned char* data, std::size_t bytes) = 0;
    // The performance-counter reading (platform/clock.h) at which the next
    // frame written will be heard, from what the output learnt since the last
    // call; empty when it learnt nothing new, or can never tell.
    virtual std::optional<std::int64_t> NextHeardAt() = 0;
    // Forgets what is queued and not yet heard.
    virtual void Drop() = 0;
    // From any thread: a Writable that waits returns 0 now.
    virtual void Wake() = 0;
};

} // namespace vendrake
