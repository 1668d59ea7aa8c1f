#include "platform/dynamic_library.h"

#include <bit>
#include <dlfcn.h>
#include <utility>

namespace vendrake {

namespace {

// dlerror() hands its message out once; keep it until the next failure.
thread_local std::string LastError;

void RememberError(const std::string& fallback) {
    const char* message = dlerror();
    LastError = message ? message : fallback;
}

void* Native(HMODULE module) { return static_cast<void*>(module); }

} // namespace

HMODULE LoadLibraryA(const char* fileName) {
    if (!fileName || !*fileName) {
        LastError = "no library name given";
        return nullptr;
    }
    void* handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        RememberError(std::string(fileName) + ": cannot be loaded");
        return nullptr;
    }
    return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    if (!module || !name) {
        LastError = "no library or no symbol name given";
        return nullptr;
    }
    dlerror();  // a null symbol is only an error when dlerror() says so
    void* symbol = dlsym(Native(module), name);
    if (!symbol) {
        RememberError(std::string(name) + ": no such symbol");
        return nullptr;
    }
    return std::bit_cast<FARPROC>(symbol);
}

bool FreeLibrary(HMODULE module) {
    if (!module)
        return false;
    if (dlclose(Native(module)) != 0) {
        RememberError("dlclose failed");
        return false;
    }
    return true;
}

std::string LastLibraryError() { return LastError; }

TDynamicLibrary& TDynamicLibrary::operator=(TDynamicLibrary&& other) noexcept {
    if (this != &other) {
        FreeLibrary(FHandle);
        FHandle = other.Release();
    }
    return *this;
}

HMODULE TDynamicLibrary::Release() { return std::exchange(FHandle, nullptr); }

} // namespace vendrake
