#include "tools/y3d/commands.h"

#include "app/plane_setup.h"
#include "scenefile/loader.h"
#include "stream/stream.h"
#include "scenefile/tree_text.h"
#include "scene/gl_null.h"
#include "tools/demo/demo.h"
#include "tools/y3d/progress.h"
#include "tools/y3d/render.h"
#include "tools/y3d/scene_commands.h"
#include "tools/y3d/web_site.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <ostream>
#include <unistd.h>

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
    "  tree --planes FILE      print the scene tree as the player paints it after its\n"
    "                          plane set-up (planes made additive, their transforms moved)\n"
    "  demo DIR                write the default demo into DIR: the scene ZuzezurAdor.y3d,\n"
    "                          its texture files and the soundtrack vendrake.mp3\n"
    "  render FILE --time SECONDS [--size WxH] [--no-planes] --out FRAME.png\n"
    "                          paint the frame the player shows at that demo time and\n"
    "                          write it as PNG (800x600 unless --size)\n"
    "  render FILE --time SECONDS --frames N [--fps F] [--size WxH] [--no-planes]\n"
    "         --out-dir DIR    a sequence of N frames, F a second (25 unless --fps), as\n"
    "                          DIR/frame_0000.png ...; texture files are looked up next to\n"
    "                          FILE; --no-planes leaves out the program's plane set-up;\n"
    "                          --from S [--to T] instead of --time and --frames: the\n"
    "                          frames from S up to T (the end of the scene's longest track)\n"
    "  render FILE --video OUT [--from S] [--to T] [--fps F] [--size WxH] [--crf Q]\n"
    "         [--music FILE] [--no-planes]\n"
    "                          a video of the frames from S (0) up to T, F a second (60),\n"
    "                          with the soundtrack (vendrake.mp3 next to FILE unless\n"
    "                          --music): H.264 and AAC in .mp4 or .mkv, quality Q (18,\n"
    "                          lower is better), VP9 and Opus in .webm\n"
    "  import SOURCE OUT.y3d [--step S] [--camera NAME]\n"
    "                          convert a scene from another 3D tool (glTF, FBX, COLLADA,\n"
    "                          OBJ, 3DS, PLY, STL and more) into a scene file, its\n"
    "                          textures next to it; animation sampled every S tenths of a\n"
    "                          second (1); NAME's camera instead of the first\n"
    "  export SCENE OUT.gltf|OUT.glb\n"
    "                          write a scene file as glTF 2.0 for Blender and glTF viewers:\n"
    "                          meshes, materials, textures, camera, light and animation\n"
    "  web SCENE OUT_DIR [--music FILE]\n"
    "                          write a folder any static web server can serve, in which a\n"
    "                          browser plays the scene: the web player (from\n"
    "                          $VENDRAKE_WEB_DIR, else as scripts/web-build built it),\n"
    "                          the scene, the texture files it names, its music (--music,\n"
    "                          else the MP3 the program plays beside it) and site.json\n"
    "  --help                  show this text\n"
    "\n"
    "No command needs an X display: render draws through GLX when there is one and\n"
    "through EGL otherwise; the others read scene files without uploading textures.\n";

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

int PlanesTree(const std::string& fileName, std::ostream& out)
{
    TNullGL noGL;
    TgrLoader loader;
    loader.RegisterNodeClasses();
    loader.LoadFromFile(fileName);
    const TgrTreePtr scene = loader.BuildScene();
    SetUpPlanes(*scene, DisableDepthTest, {});
    out << TreeText(*scene);
    return 0;
}

int Demo(const std::string& directory, std::ostream& out)
{
    for (const std::string& name : demo::WriteDemo(directory))
        out << name << '\n';
    return 0;
}

int Render(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal)
{
    const TRenderOptions options = ParseRenderOptions(args);
    TRenderObserver observer;
    observer.Warning = [&err](const std::string& message) { err << "y3d: warning: " << message << '\n'; };
    if (options.Video.empty()) {
        for (const std::string& file : RenderFrames(options, observer))
            out << file << '\n';
        return 0;
    }
    TProgressBar bar(err, terminal);
    observer.Progress = [&bar](int done, int total) { bar.Update(done, total); };
    const std::vector<std::string> files = RenderFrames(options, observer);
    char line[256];
    std::snprintf(line, sizeof line, "%d frames of %dx%d at %g a second in %s (%.1f a second)", bar.Done(),
                  options.Width, options.Height, options.Fps, MinutesAndSeconds(bar.Elapsed()).c_str(), bar.Rate());
    bar.Close(options.Video + ": " + line);
    for (const std::string& file : files)
        out << file << '\n';
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
        if (command == "tree" && args.size() == 3 && args[1] == "--planes")
            return PlanesTree(args[2], out);
        if (command == "demo" && args.size() == 2)
            return Demo(args[1], out);
        if (command == "export")
            return Export(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
        if (command == "import")
            return Import(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
        if (command == "web")
            return Web(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
        if (command == "render")
            return Render(std::vector<std::string>(args.begin() + 1, args.end()), out, err,
                          &err == &std::cerr && ::isatty(STDERR_FILENO));
        err << "y3d: unknown command line; try y3d --help\n";
        return 1;
    } catch (const ERenderInterrupted& e) {
        out.flush();
        err << "y3d: " << e.what() << '\n';
        return SignalStatus + e.Signal;
    } catch (const std::exception& e) {
        out.flush();
        err << "y3d: " << e.what() << '\n';
        return 1;
    }
}

} // namespace vendrake::y3d
