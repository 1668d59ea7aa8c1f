#include "tools/y3d/scene_commands.h"

#include "convert/scene_export.h"
#include "convert/scene_import.h"

#include <cmath>
#include <ostream>
#include <stdexcept>

namespace vendrake::y3d {

namespace {

std::int32_t ParseStep(const std::string& text)
{
    std::size_t used = 0;
    long value = 0;
    try {
        value = std::stol(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || value < 1 || value > MaxImportStep)
        throw std::invalid_argument("--step: \"" + text + "\" is not a whole number from 1 to " +
                                    std::to_string(MaxImportStep));
    return static_cast<std::int32_t>(value);
}

} // namespace

int Import(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    TImportOptions options;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) == 0) {
            if (i + 1 >= args.size())
                throw std::invalid_argument(arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "--step")
                options.Step = ParseStep(value);
            else if (arg == "--camera")
                options.Camera = value;
            else
                throw std::invalid_argument("unknown option " + arg);
            continue;
        }
        files.push_back(arg);
    }
    if (files.size() != 2)
        throw std::invalid_argument("import takes a source file and the scene file to write");
    options.Source = files[0];
    options.Out = files[1];
    options.Warning = [&err](const std::string& message) { err << "y3d: warning: " << message << '\n'; };
    for (const std::string& file : ImportScene(options))
        out << file << '\n';
    return 0;
}

int Export(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.size() != 2 || args[0].rfind("--", 0) == 0 || args[1].rfind("--", 0) == 0)
        throw std::invalid_argument("export takes a scene file and the .gltf or .glb file to write");
    TExportOptions options;
    options.Scene = args[0];
    options.Out = args[1];
    options.Warning = [&err](const std::string& message) { err << "y3d: warning: " << message << '\n'; };
    for (const std::string& file : ExportScene(options))
        out << file << '\n';
    return 0;
}

} // namespace vendrake::y3d
