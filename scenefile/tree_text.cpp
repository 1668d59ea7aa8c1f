#include "scenefile/tree_text.h"

#include <vector>

namespace vendrake {

std::string TreeText(const TgrTree& root)
{
    std::string text;
    // Iterative, so a deep tree cannot exhaust the stack.
    std::vector<std::pair<const TgrTree*, int>> pending{{&root, 0}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        text.append(static_cast<std::size_t>(depth) * 2, ' ');
        text += node->NodeClass().Name();
        if (!node->Name.empty())
            text += " \"" + node->Name + "\"";
        text += '\n';
        const auto& children = node->Children();
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            pending.emplace_back(it->get(), depth + 1);
    }
    return text;
}

} // namespace vendrake
