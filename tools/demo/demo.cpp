#include "tools/demo/demo.h"

#include "convert/output_files.h"
#include "tools/demo/image_files.h"
#include "tools/demo/scene.h"
#include "tools/demo/soundtrack.h"

#include <filesystem>

namespace vendrake::demo {

std::vector<std::string> WriteDemo(const std::string& directory)
{
    const std::filesystem::path folder(directory);
    std::filesystem::create_directories(folder);
    // All of the demo or none of it: a folder where a file is to go, or a
    // full disk, leaves what was there before.
    TOutputFiles files;
    std::vector<std::string> written = {SceneFileName};
    for (const TDemoFile& file : TextureFiles()) {
        files.Add((folder / file.Name).string(), file.Bytes);
        written.push_back(file.Name);
    }
    files.Add((folder / MusicFileName).string(), EncodeMp3(SynthesizeSoundtrack()));
    written.push_back(MusicFileName);
    // Last, so that it never names files that are not there yet.
    files.Add((folder / SceneFileName).string(), SceneBytes());
    files.Commit();
    return written;
}

} // namespace vendrake::demo
