#include "tools/demo/demo.h"

#include "tools/demo/image_files.h"
#include "tools/demo/scene.h"
#include "tools/demo/soundtrack.h"

#include <filesystem>

namespace vendrake::demo {

std::vector<std::string> WriteDemo(const std::string& directory)
{
    const std::filesystem::path folder(directory);
    std::filesystem::create_directories(folder);
    std::vector<std::string> written;
    auto write = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
        WriteFileBytes((folder / name).string(), bytes);
        written.push_back(name);
    };
    write(SceneFileName, SceneBytes());
    for (const TDemoFile& file : TextureFiles())
        write(file.Name, file.Bytes);
    write(MusicFileName, EncodeMp3(SynthesizeSoundtrack()));
    return written;
}

} // namespace vendrake::demo
