#include "tools/y3d/web_site.h"

#include "app/play_options.h"
#include "convert/output_files.h"
#include "convert/video_soundtrack.h"
#include "render/texture.h"
#include "scene/gl_null.h"
#include "scenefile/loader.h"
#include "scenefile/scene_writer.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>

#ifndef VENDRAKE_WEB_DIR
#define VENDRAKE_WEB_DIR ""
#endif

namespace vendrake::y3d {

namespace fs = std::filesystem;

namespace {

bool HoldsWebPlayer(const fs::path& folder)
{
    std::error_code error;
    return std::all_of(std::begin(WebPlayerFiles), std::end(WebPlayerFiles),
                       [&](const char* name) { return fs::is_regular_file(folder / name, error); });
}

// Whether JSON can carry the name, and so a page fetch it.
bool IsText(const std::string& name)
{
    try {
        (void)nlohmann::json(name).dump();
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

// The site's files by their path in it, each with the file it is copied
// from; site.json has none.
class TSiteFiles {
public:
    explicit TSiteFiles(fs::path folder) : FFolder(std::move(folder)) { FSources[SiteFileName] = fs::path(); }

    // False when the same file is there under that path already. Two
    // different files for one path would lose one of them: an error.
    bool Add(const std::string& path, const fs::path& source)
    {
        const auto [at, added] = FSources.emplace(path, source);
        if (added) {
            FOrder.push_back(path);
            return true;
        }
        std::error_code error;
        if (!at->second.empty() && fs::equivalent(at->second, source, error))
            return false;
        throw std::runtime_error((FFolder / path).string() + ": cannot write: both " +
                                 (at->second.empty() ? std::string(SiteFileName) : at->second.string()) + " and " +
                                 source.string() + " would go there");
    }

    const std::vector<std::string>& Paths() const { return FOrder; }
    const fs::path& Source(const std::string& path) const { return FSources.at(path); }

private:
    fs::path FFolder;
    std::map<std::string, fs::path> FSources;
    std::vector<std::string> FOrder;
};

// The texture files the scene names, as paths relative to its folder, in
// the order the scene names them. Inline images need no file.
std::vector<std::string> TextureFiles(const TgrLoader& loader, const fs::path& scene, const TWebSiteOptions& options)
{
    const auto warn = [&](const std::string& message) {
        if (options.Warning)
            options.Warning(message);
    };
    const fs::path folder = scene.parent_path();
    std::error_code error;
    fs::path tree = fs::canonical(folder, error);
    if (error)
        tree = folder.lexically_normal();

    std::vector<std::string> files;
    for (const TgrTreePtr& node : loader.TexMaps->Children()) {
        if (!node->Is<TgrTexmap>())
            continue;
        const auto& map = static_cast<const TgrTexmap&>(*node);
        if (map.Linear)
            continue;
        const fs::path name(map.Name);
        const fs::path relative = name.lexically_normal();
        if (name.is_absolute() || std::find(name.begin(), name.end(), "..") != name.end()) {
            warn("texture " + map.Name + " is left out: the name leads out of the scene's folder");
            continue;
        }
        if (!IsText(map.Name)) {
            warn("texture " + map.Name + " is left out: a web page cannot fetch a name that is not UTF-8 text");
            continue;
        }
        // The player opens the name in the scene's folder, links followed; a
        // link out of it would publish whatever it leads to.
        const fs::path file = fs::canonical(folder / relative, error);
        if (map.Name.empty() || relative.filename().empty() || error || !fs::is_regular_file(file, error)) {
            warn("texture " + map.Name + " not found beside " + scene.filename().string() +
                 "; the scene plays without it");
            continue;
        }
        const fs::path inTree = file.lexically_relative(tree);
        if (inTree.empty() || *inTree.begin() == "..") {
            warn("texture " + map.Name + " is left out: it links out of the scene's folder");
            continue;
        }
        if (std::find(files.begin(), files.end(), relative.string()) == files.end())
            files.push_back(relative.string());
    }
    return files;
}

// Folders the site needs that are not there yet, made now and taken away
// again should the writing fail.
class TNewFolders {
public:
    void Make(const fs::path& folder)
    {
        std::vector<fs::path> missing;
        std::error_code error;
        for (fs::path f = folder; !f.empty() && !fs::exists(f, error); f = f.parent_path()) {
            missing.push_back(f);
            if (f == f.parent_path())
                break;
        }
        for (auto f = missing.rbegin(); f != missing.rend(); ++f) {
            if (!fs::create_directory(*f, error) && error)
                throw std::runtime_error(f->string() + ": cannot write: " + error.message());
            FMade.push_back(*f);
        }
        if (!fs::is_directory(folder, error))
            throw std::runtime_error(folder.string() + ": cannot write: not a folder");
    }
    void Keep() { FMade.clear(); }
    ~TNewFolders()
    {
        std::error_code error;
        for (auto f = FMade.rbegin(); f != FMade.rend(); ++f)
            fs::remove(*f, error); // only while empty
    }

private:
    std::vector<fs::path> FMade;
};

} // namespace

std::string FindWebPlayer()
{
    std::vector<fs::path> candidates;
    if (const char* set = std::getenv("VENDRAKE_WEB_DIR"); set && *set) {
        candidates.emplace_back(set);
    } else {
        if (const fs::path installed = InstalledDemoFolder("../share/vendrake/web"); !installed.empty())
            candidates.push_back(installed);
        if (*VENDRAKE_WEB_DIR)
            candidates.emplace_back(VENDRAKE_WEB_DIR);
    }
    std::string looked;
    for (const fs::path& folder : candidates) {
        if (HoldsWebPlayer(folder))
            return folder.string();
        looked += (looked.empty() ? "" : ", ") + folder.string();
    }
    throw std::runtime_error("the web player is not built (looked in " + looked + "): run scripts/web-build");
}

std::vector<std::string> WriteWebSite(const TWebSiteOptions& options)
{
    TPlayOptions play;
    play.Scene = options.Scene;
    play.Music = options.Music;
    // The scene and its music as the program finds them.
    const TPlayFiles found = ResolvePlayFiles(play, fs::current_path());
    const std::string sceneName = found.Scene.filename().string();
    const std::string musicName = found.Music.filename().string();
    if (!IsText(sceneName) || !IsText(musicName))
        throw std::runtime_error((IsText(sceneName) ? found.Music : found.Scene).string() +
                                 ": a web page cannot fetch a name that is not UTF-8 text");

    const TNullGL noGL;
    TgrLoader loader;
    loader.RegisterNodeClasses();
    loader.LoadFromFile(found.Scene.string());
    loader.BuildScene(); // what the page builds: a scene it cannot build fails here
    const std::vector<std::string> textures = TextureFiles(loader, found.Scene, options);

    std::optional<long> rate;
    if (!found.Music.empty())
        rate = TSoundtrackSpan(found.Music.string(), 0, 0).Rate();
    else if (options.Warning)
        options.Warning(found.Notice + "; the site plays without sound");

    const fs::path out = fs::absolute(options.OutDir);
    TSiteFiles site(out);
    for (const char* name : WebPlayerFiles)
        site.Add(name, fs::path(options.WebPlayer) / name);
    site.Add(sceneName, found.Scene);
    for (const std::string& texture : textures)
        site.Add(texture, found.Folder / texture);
    if (!found.Music.empty())
        site.Add(musicName, found.Music);

    // No output may take the place of a file it is made from; a file that
    // is itself already in its place stays as it is.
    TOutputFiles files;
    for (const std::string& path : site.Paths())
        files.Protect(site.Source(path).string());
    for (const std::string& path : site.Paths()) {
        std::error_code error;
        if (!fs::equivalent(out / path, site.Source(path), error))
            files.Add((out / path).string(), ReadWholeFile(site.Source(path).string()));
    }
    nlohmann::ordered_json json;
    json["scene"] = sceneName;
    json["music"] = found.Music.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(musicName);
    json["musicRate"] = rate ? nlohmann::ordered_json(*rate) : nlohmann::ordered_json();
    json["files"] = nlohmann::ordered_json::array();
    json["files"].push_back(sceneName);
    for (const std::string& texture : textures)
        json["files"].push_back(texture);
    const std::string text = json.dump(2) + "\n";
    // Last: the file that names the rest.
    files.Add((out / SiteFileName).string(), std::vector<std::uint8_t>(text.begin(), text.end()));

    TNewFolders folders;
    folders.Make(out);
    for (const std::string& texture : textures)
        folders.Make((out / texture).parent_path());
    std::vector<std::string> written = files.Commit();
    folders.Keep();
    return written;
}

int Web(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    TWebSiteOptions options;
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) != 0) {
            paths.push_back(arg);
            continue;
        }
        if (arg != "--music")
            throw std::invalid_argument("unknown option " + arg);
        if (i + 1 >= args.size())
            throw std::invalid_argument(arg + " needs a value");
        options.Music = args[++i];
    }
    if (paths.size() != 2 || paths[0].empty() || paths[1].empty())
        throw std::invalid_argument("web takes a scene file and the folder to write");
    options.Scene = paths[0];
    options.OutDir = paths[1];
    options.WebPlayer = FindWebPlayer();
    options.Warning = [&err](const std::string& message) { err << "y3d: warning: " << message << '\n'; };
    for (const std::string& file : WriteWebSite(options))
        out << file << '\n';
    return 0;
}

} // namespace vendrake::y3d
