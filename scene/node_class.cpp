#include "scene/node_class.h"

namespace vendrake {

bool TNodeClass::InheritsFrom(const TNodeClass& base) const
{
    for (const TNodeClass* c = this; c; c = c->FParent)
        if (c == &base)
            return true;
    return false;
}

} // namespace vendrake
