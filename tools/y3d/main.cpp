// y3d: a command-line tool for people who make and check scene files.
#include "tools/y3d/commands.h"

#include <csignal>
#include <iostream>

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = vendrake::y3d::Run(args, std::cout, std::cerr);
    if (status > vendrake::y3d::SignalStatus) {
        // Interrupted, and cleaned up: end by the signal, as its default
        // action would have, so that the shell sees why.
        const int signal = status - vendrake::y3d::SignalStatus;
        std::cout.flush();
        std::cerr.flush();
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return status;
}
