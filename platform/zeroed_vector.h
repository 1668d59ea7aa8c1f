#pragma once
// A vector whose new elements are zero without a pass that writes the
// zeros: new blocks come from calloc, which hands memory fresh from the
// kernel over as it is (already zero). For large buffers that are about to
// be overwritten anyway, such as vertex data read from a file, this halves
// the memory traffic.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace vendrake {

template <class T>
struct TZeroedAllocator {
    using value_type = T;
    template <class U>
    static constexpr bool IsTrivial =
        std::is_trivially_default_constructible_v<U> && std::is_trivially_destructible_v<U>;
    TZeroedAllocator() = default;
    template <class U>
    TZeroedAllocator(const TZeroedAllocator<U>&) noexcept
    {
    }
    T* allocate(std::size_t n)
    {
        if (void* p = std::calloc(n, sizeof(T)))
            return static_cast<T*>(p);
        throw std::bad_alloc();
    }
    void deallocate(T* p, std::size_t) noexcept { std::free(p); }
    // Memory from calloc holds objects of trivial types already, with the
    // value its zero bytes give them (allocation functions create such
    // objects implicitly). Constructing and destroying them does nothing, so
    // an element keeps the value its bytes hold for as long as its block
    // lives; ResizeZeroed clears elements re-added inside an old block.
    // Other types are value-initialised and destroyed as usual.
    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>)
    {
        if constexpr (!IsTrivial<U>)
            ::new (static_cast<void*>(p)) U();
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U>
    void destroy(U* p) noexcept
    {
        if constexpr (!IsTrivial<U>)
            p->~U();
    }
    template <class U>
    bool operator==(const TZeroedAllocator<U>&) const noexcept
    {
        return true;
    }
};

template <class T>
using TZeroedVector = std::vector<T, TZeroedAllocator<T>>;

// Resizes v, keeping its elements; every element added is zero. Only
// elements added inside the old block are written: a new block is zero
// from calloc.
template <class T>
void ResizeZeroed(TZeroedVector<T>& v, std::size_t n)
{
    const std::size_t old = v.size();
    const T* before = v.data();
    v.resize(n);
    if (n > old && v.data() == before)
        std::fill(v.begin() + static_cast<std::ptrdiff_t>(old), v.end(), T{});
}

} // namespace vendrake
