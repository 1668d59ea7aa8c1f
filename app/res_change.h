#pragma once
// Switches the screen to the presentation's resolution for the time of the
// run and back at the end. Only width and height are requested; colour depth
// and refresh rate stay as the desktop has them.
#include "platform/display_mode.h"

#include <cstdint>

namespace vendrake {

class TResChange {
public:
    TResChange();
    ~TResChange();  // Restore
    TResChange(const TResChange&) = delete;
    TResChange& operator=(const TResChange&) = delete;

    // A value of 0 drops the dimension from the request, so Apply leaves it
    // as it is.
    void SetWidth(std::int32_t width);
    void SetHeight(std::int32_t height);

    // Enters the requested mode temporarily. Failure is not reported: the
    // program goes on in the current mode.
    void Apply();
    void ApplyMode(const DEVMODEA& mode);
    // Back to the user's mode, whatever was active before Apply. Harmless
    // without a preceding Apply.
    void Restore();

    const DEVMODEA& RequestedMode() const { return FRequestedMode; }

private:
    DEVMODEA FRequestedMode;
};

} // namespace vendrake
