#pragma once
// The y3d commands, callable from tests: each writes its output to out,
// reports errors by exception, and returns the exit status.
#include <iosfwd>
#include <string>
#include <vector>

namespace vendrake::y3d {

// One line per chunk as the loader reads it: offset, type, size, node class
// and name, nested chunks indented by two more spaces.
int Inspect(const std::string& fileName, std::ostream& out);
// The scene tree BuildScene returns, or with materials the material tree.
int Tree(const std::string& fileName, bool materials, std::ostream& out);
// The scene tree after the player's plane set-up (without music): the planes'
// transforms moved and each plane wrapped in its blend and callback nodes.
int PlanesTree(const std::string& fileName, std::ostream& out);
// Writes the default demo into directory and lists the files written.
int Demo(const std::string& directory, std::ostream& out);
// The render command's arguments (after "render"); lists the files written
// on out. Warnings go to err, and for a video a progress bar (when err is a
// terminal) and a closing line.
int Render(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal);
// Dispatches a command line (without the program name); errors become one
// line "y3d: <message>" on err and status 1. A render ended by a signal
// returns 128 and the signal's number, the status a shell gives a program
// the signal killed: the program then ends by that signal itself, once it
// has cleaned up, so that a script running it stops as it would for any
// other.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
constexpr int SignalStatus = 128;

extern const char* const HelpText;

} // namespace vendrake::y3d
