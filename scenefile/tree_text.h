#pragma once
// Scene trees as text, one node per line, depth-first in child order: two
// spaces of indentation per level, the class name, and the node's name in
// double quotes when it has one. A node under two parents appears under each.
#include "scene/tree.h"

#include <string>

namespace vendrake {

std::string TreeText(const TgrTree& root);

} // namespace vendrake
