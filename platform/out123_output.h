#pragma once
// Sound through libout123's output modules: ALSA for the program, when no
// PulseAudio server answers, and any module a test names (the "wav" file
// writer). Writing blocks until the module takes the sound, and the modules
// do not tell how much is queued, so NextHeardAt is always empty.
#include "platform/sound_output.h"

#include <memory>
#include <optional>
#include <string>

namespace vendrake {

// Opens `driver` on `device` (empty: the module's default), or with no driver
// the first of the preferred modules that loads and opens (ALSA). Null when
// none opens or the output does not take 16-bit stereo at rate. Nothing is
// written, not even a file writer's header, before Start.
std::unique_ptr<TSoundOutput> OpenOut123Output(const std::optional<std::string>& driver, const std::string& device,
                                               long rate);

} // namespace vendrake
