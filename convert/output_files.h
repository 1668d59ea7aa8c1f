#pragma once
// Files a conversion writes, held in memory until the conversion has
// succeeded and then written all together: each under a hidden temporary
// name in its folder, renamed once every one is complete. A failure on the
// way removes what was written, so nothing of a failed conversion remains.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vendrake {

class TOutputFiles {
public:
    // Replaces a file of the same path added before.
    void Add(const std::string& path, std::vector<std::uint8_t> bytes);
    // A file made of pieces, written one after another: a large file need
    // not be copied into one buffer first. The memory they view must stay
    // as it is until Commit has returned.
    void Add(const std::string& path, std::vector<std::span<const std::uint8_t>> pieces);
    bool Has(const std::string& path) const;
    // Writes and renames them all; raises std::runtime_error naming the file
    // and the reason. Returns the paths written, in the order added.
    std::vector<std::string> Commit();

private:
    struct TFile {
        std::string Path;
        std::vector<std::uint8_t> Bytes;
        std::vector<std::span<const std::uint8_t>> Pieces; // used when Bytes is empty
    };
    std::vector<TFile> FFiles;
};

} // namespace vendrake
