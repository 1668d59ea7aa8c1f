#pragma once
// Runs y3d's command line in the test's own process, with what it printed.
#include "tools/y3d/commands.h"

#include <sstream>
#include <string>
#include <vector>

namespace vendrake::test {

struct TY3dResult {
    int Status;
    std::string Out, Err;
};

inline TY3dResult Y3d(std::vector<std::string> args)
{
    std::ostringstream out, err;
    const int status = y3d::Run(args, out, err);
    return {status, out.str(), err.str()};
}

} // namespace vendrake::test
