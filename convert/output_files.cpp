#include "convert/output_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace vendrake {

namespace fs = std::filesystem;

namespace {

std::string TemporaryName(const std::string& path)
{
    const fs::path target(path);
    return (target.parent_path() / ("." + target.filename().string() + ".tmp-" + std::to_string(::getpid())))
        .string();
}

void WriteWhole(const std::string& temporary, const std::string& path,
                const std::vector<std::span<const std::uint8_t>>& pieces)
{
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file)
        throw std::runtime_error(path + ": cannot write: " + std::strerror(errno));
    bool written = true;
    for (const std::span<const std::uint8_t> piece : pieces)
        if (written && !piece.empty())
            written = std::fwrite(piece.data(), 1, piece.size(), file) == piece.size();
    const int error = written ? 0 : errno;
    if (std::fclose(file) != 0 || !written) {
        std::remove(temporary.c_str());
        throw std::runtime_error(path + ": cannot write: " + std::strerror(error ? error : errno));
    }
}

} // namespace

void TOutputFiles::Add(const std::string& path, std::vector<std::uint8_t> bytes)
{
    for (TFile& file : FFiles)
        if (file.Path == path) {
            file.Bytes = std::move(bytes);
            file.Pieces.clear();
            return;
        }
    FFiles.push_back({path, std::move(bytes), {}});
}

void TOutputFiles::Add(const std::string& path, std::vector<std::span<const std::uint8_t>> pieces)
{
    Add(path, std::vector<std::uint8_t>());
    for (TFile& file : FFiles)
        if (file.Path == path)
            file.Pieces = std::move(pieces);
}

bool TOutputFiles::Has(const std::string& path) const
{
    for (const TFile& file : FFiles)
        if (file.Path == path)
            return true;
    return false;
}

std::vector<std::string> TOutputFiles::Commit()
{
    std::vector<std::string> temporaries;
    try {
        for (const TFile& file : FFiles) {
            temporaries.push_back(TemporaryName(file.Path));
            WriteWhole(temporaries.back(), file.Path,
                       file.Bytes.empty() ? file.Pieces
                                          : std::vector<std::span<const std::uint8_t>>{std::span(file.Bytes)});
        }
    } catch (...) {
        for (const std::string& name : temporaries)
            std::remove(name.c_str());
        throw;
    }
    // Renames replace atomically; the last one is the file the others serve
    // (the scene), so it never names files that are not there yet.
    std::vector<std::string> written;
    for (std::size_t i = 0; i < FFiles.size(); ++i) {
        if (std::rename(temporaries[i].c_str(), FFiles[i].Path.c_str()) != 0) {
            const int error = errno;
            for (std::size_t j = i; j < FFiles.size(); ++j)
                std::remove(temporaries[j].c_str());
            throw std::runtime_error(FFiles[i].Path + ": cannot write: " + std::strerror(error));
        }
        written.push_back(FFiles[i].Path);
    }
    return written;
}

} // namespace vendrake
