#pragma once
// The default demo: a scene, the texture files it names and its soundtrack,
// generated from code. The same bytes come out on every run.
#include <string>
#include <vector>

namespace vendrake::demo {

// Writes the demo into directory, creating it when missing, replacing the
// demo's files there all together or, on failure, none of them; returns the
// names of the files written, the scene first.
std::vector<std::string> WriteDemo(const std::string& directory);

} // namespace vendrake::demo
