#pragma once
// Files a conversion writes, held in memory until the conversion has
// succeeded and then written all together or not at all. Each goes into a
// temporary file of its own beside its final name, created for this write
// alone (a fresh name nobody can guess, never opened through a link, with
// the permissions a new file gets); only once every one is complete are they
// renamed into place. A failure on the way, a folder standing where a file
// is to go included, removes every temporary and leaves the folder as it
// was.
//
// The names a conversion picks itself (a model's textures) never replace a
// file: they are made safe to use as a file name and unique against the
// folder and the other outputs, and a file that already holds the very same
// bytes is used as it is.
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace vendrake {

class TOutputFiles {
public:
    // A file no output may take the place of, however its path is spelt,
    // through links too: the conversion's source. Raises std::runtime_error
    // at once for an output of that path added before, and from later Adds.
    void Protect(const std::string& path);
    // A file at exactly this path, replacing what is there: the output the
    // user named. Replaces a file of the same path added before. Raises
    // std::runtime_error when the path is a protected file.
    void Add(const std::string& path, std::vector<std::uint8_t> bytes);
    // A file made of pieces, written one after another: a large file need
    // not be copied into one buffer first. The memory they view must stay
    // as it is until Commit has returned.
    void Add(const std::string& path, std::vector<std::span<const std::uint8_t>> pieces);
    // A file in folder under a name of the conversion's choosing: `name`
    // made safe (SafeFileName), or, when something else is there or another
    // output has it, the first free of stem_2.ext, stem_3.ext and on.
    // Returns the name taken, without the folder.
    std::string AddNamed(const std::string& folder, const std::string& name, std::vector<std::uint8_t> bytes);

    // Writes and renames them all, with SIGINT, SIGTERM, SIGHUP and SIGQUIT
    // held off until it is done; raises std::runtime_error naming the file
    // and the reason. Returns the paths written in the order they took their
    // names: the named files, then the others in the order added, so that
    // the last, the file that names the rest, never names a missing one.
    std::vector<std::string> Commit();

private:
    struct TFile {
        std::string Path;
        std::vector<std::uint8_t> Bytes;
        std::vector<std::span<const std::uint8_t>> Pieces; // used when Bytes is empty
        bool Named = false; // takes a name of its own: never replaces a file
    };
    void CheckTarget(const TFile& file) const;
    std::vector<TFile> FFiles;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> FProtected; // device, inode
};

// A file name with no folder in it that is safe to create: separators,
// control characters and a leading dot become '_', an empty name becomes
// "file", and a long one is cut (its extension kept) so that it and its
// temporary fit in a folder entry.
std::string SafeFileName(const std::string& name);

} // namespace vendrake
