#include "convert/output_files.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vendrake {

namespace fs = std::filesystem;

namespace {

// Bytes of a name's own, leaving room in a folder entry (255 bytes) for the
// temporary's dot, random part and ending, and for a number to tell it apart.
constexpr std::size_t MaxNameBytes = 200;

[[noreturn]] void Fail(const std::string& path, const std::string& reason)
{
    throw std::runtime_error(path + ": cannot write: " + reason);
}

std::string Normal(const std::string& path) { return fs::absolute(path).lexically_normal().string(); }

std::string RandomPart()
{
    std::uint64_t random = 0;
    if (::getrandom(&random, sizeof random, 0) != ssize_t(sizeof random))
        throw std::runtime_error(std::string("no random numbers: ") + std::strerror(errno));
    static constexpr char Digits[] = "0123456789abcdefghijklmnopqrstuv";
    std::string text;
    for (int i = 0; i < 12; ++i, random >>= 5)
        text += Digits[random & 31];
    return text;
}

// Creates the temporary for `path` beside it: a new file under a name of
// its own that nothing else has (O_EXCL also refuses a link planted there).
int CreateTemporary(const std::string& path, std::string& temporary)
{
    const fs::path target(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = (target.parent_path() / ("." + target.filename().string().substr(0, MaxNameBytes) + "." +
                                             RandomPart() + ".part"))
                        .string();
        const int fd =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            Fail(path, std::strerror(errno));
    }
    Fail(path, "no free temporary name beside it");
}

void WriteAll(int fd, const std::string& path, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            Fail(path, written < 0 ? std::strerror(errno) : "nothing written");
        bytes = bytes.subspan(std::size_t(written));
    }
}

// Renames without replacing: a file that has appeared under a chosen name
// since it was chosen stays.
bool RenameNew(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a hard link fails the same way.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

bool SameBytes(const fs::path& file, const std::vector<std::uint8_t>& bytes)
{
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (!in)
        return false;
    std::vector<std::uint8_t> buffer(64 * 1024);
    std::size_t at = 0;
    bool same = true;
    for (std::size_t n; same && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0; at += n)
        same = at + n <= bytes.size() && std::equal(buffer.begin(), buffer.begin() + std::ptrdiff_t(n),
                                                    bytes.begin() + std::ptrdiff_t(at));
    same = same && !std::ferror(in) && at == bytes.size();
    std::fclose(in);
    return same;
}

// Ctrl-C and its kind wait while the files are written and take their
// places, so that an interrupted conversion leaves either all of them or
// none, and no temporary.
class THeldSignals {
public:
    THeldSignals()
    {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            sigaddset(&held, signal);
        pthread_sigmask(SIG_BLOCK, &held, &FPrevious);
    }
    ~THeldSignals() { pthread_sigmask(SIG_SETMASK, &FPrevious, nullptr); }
    THeldSignals(const THeldSignals&) = delete;
    THeldSignals& operator=(const THeldSignals&) = delete;

private:
    sigset_t FPrevious;
};

} // namespace

std::string SafeFileName(const std::string& name)
{
    std::string safe = name;
    for (char& c : safe)
        if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 32 || c == 127)
            c = '_';
    if (safe.empty())
        return "unnamed";
    if (safe[0] == '.')
        safe[0] = '_';
    if (safe.size() > MaxNameBytes) {
        std::string extension = fs::path(safe).extension().string();
        if (extension.size() > 16)
            extension.clear();
        std::size_t cut = MaxNameBytes - extension.size();
        // Not in the middle of a UTF-8 character.
        while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80)
            --cut;
        safe = safe.substr(0, cut) + extension;
    }
    return safe;
}

void TOutputFiles::Protect(const std::string& path)
{
    struct stat s {};
    if (::stat(path.c_str(), &s) != 0)
        return;
    FProtected.emplace_back(s.st_dev, s.st_ino);
    for (const TFile& file : FFiles)
        CheckTarget(file);
}

void TOutputFiles::CheckTarget(const TFile& file) const
{
    struct stat s {};
    if (::stat(file.Path.c_str(), &s) == 0 &&
        std::find(FProtected.begin(), FProtected.end(), std::pair<std::uint64_t, std::uint64_t>(s.st_dev, s.st_ino)) !=
            FProtected.end())
        throw std::runtime_error(file.Path + ": is the file being read; give another file to write");
    if (::lstat(file.Path.c_str(), &s) == 0 && S_ISDIR(s.st_mode))
        Fail(file.Path, "a folder is in the way");
}

void TOutputFiles::Add(const std::string& path, std::vector<std::uint8_t> bytes)
{
    TFile added{path, std::move(bytes), {}, false};
    CheckTarget(added);
    const std::string normal = Normal(path);
    for (TFile& file : FFiles)
        if (Normal(file.Path) == normal) {
            file = std::move(added);
            return;
        }
    FFiles.push_back(std::move(added));
}

void TOutputFiles::Add(const std::string& path, std::vector<std::span<const std::uint8_t>> pieces)
{
    Add(path, std::vector<std::uint8_t>());
    const std::string normal = Normal(path);
    for (TFile& file : FFiles)
        if (Normal(file.Path) == normal)
            file.Pieces = std::move(pieces);
}

std::string TOutputFiles::AddNamed(const std::string& folder, const std::string& name,
                                   std::vector<std::uint8_t> bytes)
{
    const std::string safe = SafeFileName(name);
    const std::string stem = fs::path(safe).stem().string(), extension = fs::path(safe).extension().string();
    for (int n = 1;; ++n) {
        const std::string candidate = n == 1 ? safe : stem + "_" + std::to_string(n) + extension;
        const fs::path path = fs::path(folder) / candidate;
        const std::string normal = Normal(path.string());
        if (std::any_of(FFiles.begin(), FFiles.end(), [&](const TFile& f) { return Normal(f.Path) == normal; }))
            continue;
        struct stat s {};
        if (::lstat(path.c_str(), &s) != 0) {
            if (errno != ENOENT)
                Fail(path.string(), std::strerror(errno));
            FFiles.push_back({path.string(), std::move(bytes), {}, true});
            return candidate;
        }
        // A link is never taken for the file it names.
        if (S_ISREG(s.st_mode) && std::uint64_t(s.st_size) == bytes.size() && SameBytes(path, bytes))
            return candidate;
    }
}

std::vector<std::string> TOutputFiles::Commit()
{
    for (const TFile& file : FFiles)
        CheckTarget(file);
    const THeldSignals held;
    std::vector<std::string> temporaries;
    try {
        for (const TFile& file : FFiles) {
            std::string temporary;
            const int fd = CreateTemporary(file.Path, temporary);
            temporaries.push_back(temporary);
            try {
                if (!file.Bytes.empty())
                    WriteAll(fd, file.Path, file.Bytes);
                else
                    for (const std::span<const std::uint8_t> piece : file.Pieces)
                        WriteAll(fd, file.Path, piece);
            } catch (...) {
                ::close(fd);
                throw;
            }
            if (::close(fd) != 0)
                Fail(file.Path, std::strerror(errno));
        }
        // What was checked before the writing may have changed meanwhile.
        for (const TFile& file : FFiles)
            CheckTarget(file);
    } catch (...) {
        for (const std::string& temporary : temporaries)
            ::unlink(temporary.c_str());
        throw;
    }

    // The named files first: they are new, and a failure takes them away
    // again. The others replace files, the one that names the rest last.
    std::vector<std::size_t> order;
    for (int named = 1; named >= 0; --named)
        for (std::size_t i = 0; i < FFiles.size(); ++i)
            if (FFiles[i].Named == bool(named))
                order.push_back(i);
    std::vector<std::string> written;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const TFile& file = FFiles[order[k]];
        const std::string& temporary = temporaries[order[k]];
        if (file.Named ? RenameNew(temporary, file.Path) : std::rename(temporary.c_str(), file.Path.c_str()) == 0) {
            written.push_back(file.Path);
            continue;
        }
        const int error = errno;
        for (std::size_t j = k; j < order.size(); ++j)
            ::unlink(temporaries[order[j]].c_str());
        for (std::size_t j = 0; j < k; ++j)
            if (FFiles[order[j]].Named)
                ::unlink(FFiles[order[j]].Path.c_str());
        Fail(file.Path, error == EEXIST ? "another file took its name meanwhile" : std::strerror(error));
    }
    return written;
}

} // namespace vendrake
