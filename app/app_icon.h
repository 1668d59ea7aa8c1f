#pragma once
// The program's icon, drawn by code at the sizes window managers and task
// lists ask for: the demo's glowing core with a ring round it, on the night
// over the crater.
#include "platform/application.h"

#include <vector>

namespace vendrake {

std::vector<TIconImage> VendrakeIcon();

} // namespace vendrake
