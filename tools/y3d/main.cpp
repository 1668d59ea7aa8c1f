// y3d: a command-line tool for people who make and check scene files.
#include "tools/y3d/commands.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return vendrake::y3d::Run(args, std::cout, std::cerr);
}
