#pragma once
// y3d import and y3d export: the command lines of the scene converters.
#include <iosfwd>
#include <string>
#include <vector>

namespace vendrake::y3d {

// The arguments after "import": SOURCE OUT.y3d [--step S] [--camera NAME].
// Lists the files written on out and a warning line for each thing the scene
// file cannot hold on err.
int Import(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// The arguments after "export": SCENE.y3d OUT.gltf|OUT.glb.
int Export(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace vendrake::y3d
