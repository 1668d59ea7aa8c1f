#pragma once
// y3d web: a folder any static web server can serve, in which a browser
// plays the scene with the web build of the player. It holds the web
// player's page and module, the scene file, every texture file the scene
// names (at the path it names them by, relative to the scene's folder), the
// music, and site.json, which tells the page what to fetch:
//
//   {"scene": "show.y3d", "music": "show.mp3", "musicRate": 44100,
//    "files": ["show.y3d", "glass.tga", "maps/rock.tga"]}
//
// "files" are what the page puts into the module's file system, the scene's
// working folder; the music is played by the page, at the MP3's own rate
// ("music" and "musicRate" are null without music).
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace vendrake::y3d {

// The files the web build makes, which the site serves as they are.
inline constexpr const char* WebPlayerFiles[] = {"index.html", "vendrake_page.js", "vendrake.js", "vendrake.wasm"};
inline constexpr const char* SiteFileName = "site.json";

// The folder holding all of WebPlayerFiles: $VENDRAKE_WEB_DIR when set (and
// then only there), else share/vendrake/web beside an installed y3d, else the
// build's own web build folder. Raises std::runtime_error naming the folders
// looked in when none holds them all.
std::string FindWebPlayer();

struct TWebSiteOptions {
    std::string Scene;
    std::string OutDir;   // made when missing
    std::string Music;    // empty: the MP3 beside the scene the program plays
    std::string WebPlayer; // a folder with WebPlayerFiles
    // Once for each texture left out and for a site without music.
    std::function<void(const std::string& message)> Warning;
};

// Writes the site into OutDir, replacing files of the same names there, all
// of it or, on an error, none of it. Returns the files written, site.json
// last. A texture missing beside the scene, or whose name or link leads out
// of the scene's folder, is left out with a warning, as the program plays on
// without it; a scene that does not load or music that is no MP3 is an
// error.
std::vector<std::string> WriteWebSite(const TWebSiteOptions& options);

// The arguments after "web": SCENE OUT_DIR [--music FILE].
int Web(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace vendrake::y3d
