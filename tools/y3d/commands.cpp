#include "tools/y3d/commands.h"

#include "io/loader.h"
#include "io/stream.h"
#include "io/tree_text.h"
#include "scene/gl_null.h"

#include <exception>
#include <ostream>

namespace vendrake::y3d {

const char* const HelpText =
    "usage: y3d COMMAND ...\n"
    "\n"
    "Commands:\n"
    "  inspect FILE            list the chunks of a scene file as the loader reads them:\n"
    "                          byte offset, type, size, node class and name; nested\n"
    "                          chunks are indented by two more spaces\n"
    "  tree FILE               print the scene tree the player paints, one node per line\n"
    "  tree --materials FILE   print the material tree (material, texture, blend chains)\n"
    "  --help                  show this text\n"
    "\n"
    "Scene files are read without a display; inline textures are not uploaded.\n";

int Inspect(const std::string& fileName, std::ostream& out)
{
    TNullGL noGL;
    TgrLoader loader;
    loader.RegisterNodeClasses();
    loader.OnChunk = [&](const TgrLoader::TChunkEvent& e) {
        out << std::string(static_cast<std::size_t>(e.Depth) * 2, ' ') << e.Offset << ' '
            << ChunkTypeName(e.Header.TypeKey) << ' ' << e.Header.Size << ' ';
        if (e.Node) {
            out << e.NodeClass->Name();
            if (!e.Node->Name.empty())
                out << " \"" << e.Node->Name << '"';
        } else {
            out << (e.Header.Size == 0 ? "(empty)" : "(skipped)");
        }
        out << '\n';
    };
    TFileStream stream(fileName, TFileMode::OpenRead);
    loader.LoadFromStream(stream);
    return 0;
}

int Tree(const std::string& fileName, bool materials, std::ostream& out)
{
    TNullGL noGL;
    TgrLoader loader;
    loader.RegisterNodeClasses();
    loader.LoadFromFile(fileName);
    const TgrTreePtr scene = loader.BuildScene();
    out << TreeText(materials ? *loader.MaterialTree : *scene);
    return 0;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    try {
        if (args.empty()) {
            err << HelpText;
            return 1;
        }
        const std::string& command = args[0];
        if (command == "--help" || command == "-h" || command == "help") {
            out << HelpText;
            return 0;
        }
        if (command == "inspect" && args.size() == 2)
            return Inspect(args[1], out);
        if (command == "tree" && args.size() == 2)
            return Tree(args[1], false, out);
        if (command == "tree" && args.size() == 3 && args[1] == "--materials")
            return Tree(args[2], true, out);
        err << "y3d: unknown command line; try y3d --help\n";
        return 1;
    } catch (const std::exception& e) {
        out.flush();
        err << "y3d: " << e.what() << '\n';
        return 1;
    }
}

} // namespace vendrake::y3d
