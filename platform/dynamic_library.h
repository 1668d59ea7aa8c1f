#pragma once
// Shared libraries the way the rest of the program loads them: open by file
// name, look exported functions up by name, free. Over dlopen/dlsym/dlclose.
#include <string>

namespace vendrake {

struct TModule;  // an open shared library; only ever handled by pointer
using HMODULE = TModule*;
using FARPROC = void (*)();

// Opens the library and resolves all its symbols now, so a library that
// cannot be used fails here and not at its first call. A name without a
// slash is searched by the dynamic loader's rules (LD_LIBRARY_PATH, the
// loader cache, the default directories). Null on failure.
HMODULE LoadLibraryA(const char* fileName);
// The exported function, or null when the library does not export the name
// (or the module is null: a null module never means "search everything").
FARPROC GetProcAddress(HMODULE module, const char* name);
// False for a null module or when the loader refuses.
bool FreeLibrary(HMODULE module);
// The loader's message for the most recent failure of the three calls above
// on this thread; empty while none has failed.
std::string LastLibraryError();

// Owns one library handle and frees it when it goes.
class TDynamicLibrary {
public:
    TDynamicLibrary() = default;
    explicit TDynamicLibrary(const char* fileName) : FHandle(LoadLibraryA(fileName)) {}
    ~TDynamicLibrary() { FreeLibrary(FHandle); }

    TDynamicLibrary(TDynamicLibrary&& other) noexcept : FHandle(other.Release()) {}
    TDynamicLibrary& operator=(TDynamicLibrary&& other) noexcept;
    TDynamicLibrary(const TDynamicLibrary&) = delete;
    TDynamicLibrary& operator=(const TDynamicLibrary&) = delete;

    bool Loaded() const { return FHandle != nullptr; }
    HMODULE Handle() const { return FHandle; }
    FARPROC Symbol(const char* name) const { return GetProcAddress(FHandle, name); }
    // Gives up ownership without freeing.
    HMODULE Release();

private:
    HMODULE FHandle = nullptr;
};

} // namespace vendrake
