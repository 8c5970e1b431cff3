#include "capacity_query.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>

#include <stdio.h>  // popen and pclose are POSIX, not C++

namespace {

bool is_blank_for_conversion(char c)
{
    // The white space that the C library's decimal conversion skips in the "C" locale.
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads an optionally signed decimal the way atoi does, but with every outcome defined:
// no digits, a negative value or one past INT32_MAX give nothing instead of a made-up number.
std::optional<std::int32_t> parse_capacity(const char* text)
{
    while (is_blank_for_conversion(*text))
        ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    if (*text < '0' || *text > '9')
        return std::nullopt;

    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        // Stopping here keeps the sum far from overflow however many digits follow.
        if (value > limit)
            return std::nullopt;
    }
    if (negative && value != 0)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

}  // namespace

bool read_capacity_text(char* capacity_text)
{
    // Once we stop reading, the pipeline must die quietly of SIGPIPE. A child inherits an
    // ignored SIGPIPE, and then an endless listing keeps its writers looping on EPIPE and
    // pclose waits for ever.
    std::signal(SIGPIPE, SIG_DFL);

    FILE* pipe = popen(CAPACITY_QUERY_COMMAND, "r");
    if (pipe == nullptr)
        return false;
    const bool got_text =
        std::fgets(capacity_text, static_cast<int>(CAPACITY_TEXT_SIZE), pipe) != nullptr;
    pclose(pipe);
    return got_text;
}

std::optional<std::int32_t> extract_capacity(const char* capacity_text, const char* key)
{
    const char* found = std::strstr(capacity_text, key);
    if (found == nullptr)
        return std::nullopt;
    const char* equals = std::strchr(found, '=');
    if (equals == nullptr)
        return std::nullopt;
    // The number follows the `=` directly: listings print both `"Key" = 616` and `"Key"=616`.
    const char* number = equals + 1;
    if (static_cast<std::size_t>(number - capacity_text) > CAPACITY_TEXT_SIZE - 1)
        return std::nullopt;
    return parse_capacity(number);
}
