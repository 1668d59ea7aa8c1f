#pragma once
// What the program uses from C++20's library that the web toolchain's
// standard library (libc++ 13) does not have yet. Put ahead of every web
// source; each piece stands aside when the library has its own.
#ifdef __cplusplus
#include <version>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <string>
#include <system_error>
#include <type_traits>

#ifndef __cpp_lib_bit_cast
namespace std {
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept
{
    static_assert(sizeof(To) == sizeof(From));
    return __builtin_bit_cast(To, from);
}
} // namespace std
#endif

#if !defined(__cpp_lib_ranges) || _LIBCPP_VERSION < 15000
namespace std::ranges {
struct TCompatFind {
    template <class Range, class T, class Projection = std::identity>
    auto operator()(Range&& range, const T& value, Projection projection = {}) const
    {
        auto it = std::begin(range);
        for (; it != std::end(range); ++it)
            if (std::invoke(projection, *it) == value)
                break;
        return it;
    }
};
inline constexpr TCompatFind find{};

struct TCompatEqual {
    template <class A, class B, class Predicate = std::equal_to<>>
    bool operator()(A&& a, B&& b, Predicate predicate = {}) const
    {
        return std::equal(std::begin(a), std::end(a), std::begin(b), std::end(b), predicate);
    }
};
inline constexpr TCompatEqual equal{};
} // namespace std::ranges
#endif

#if _LIBCPP_VERSION < 17000
namespace std {
// Decimal forms only, which is all the program hands it (callers check the
// syntax themselves).
inline from_chars_result from_chars(const char* first, const char* last, float& value,
                                    chars_format = chars_format::general)
{
    const std::string text(first, last);
    char* end = nullptr;
    errno = 0;
    const float parsed = std::strtof(text.c_str(), &end);
    const std::ptrdiff_t used = end - text.c_str();
    if (used == 0)
        return {first, errc::invalid_argument};
    if (errno == ERANGE)
        return {first + used, errc::result_out_of_range};
    value = parsed;
    return {first + used, errc{}};
}
} // namespace std
#endif
#endif
