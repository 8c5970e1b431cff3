#include "capacity_query.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include <stdio.h>  // popen and pclose are POSIX, not C++

#include "stand_in_path.h"

// The texts are fixed; a slip in one of them would go unseen by the shell and the search alike.
static_assert(sizeof CAPACITY_QUERY_COMMAND - 1 == 41);
static_assert(sizeof CURRENT_CAPACITY_KEY - 1 == 17);
static_assert(sizeof MAXIMUM_CAPACITY_KEY - 1 == 14);

namespace {

bool is_blank_for_conversion(char c)
{
    // The white space that the C library's decimal conversion skips in the "C" locale.
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads an optionally signed decimal the way atoi does, but with every outcome defined:
// no digits, a negative value or one past INT32_MAX give nothing instead of a made-up number.
std::optional<std::int32_t> parse_capacity(std::string_view text) noexcept
{
    std::size_t at = 0;
    while (at < text.size() && is_blank_for_conversion(text[at]))
        ++at;
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+'))
        ++at;
    auto is_digit = [&](std::size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
    if (!is_digit(at))
        return std::nullopt;

    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    for (; is_digit(at); ++at) {
        value = value * 10 + (text[at] - '0');
        // Stopping here keeps the sum far from overflow however many digits follow.
        if (value > limit)
            return std::nullopt;
    }
    if (negative && value != 0)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

}  // namespace

bool read_capacity_text(char* capacity_text) noexcept
{
    // Once we stop reading, the pipeline must die quietly of SIGPIPE. A child inherits an
    // ignored SIGPIPE, and then an endless listing keeps its writers looping on EPIPE and
    // pclose waits for ever.
    std::signal(SIGPIPE, SIG_DFL);
#ifdef POWMETER_STAND_IN_RELATIVE
    // Where the platform has no ioreg of its own, the one installed with powmeter answers.
    add_stand_ins_to_path(POWMETER_STAND_IN_RELATIVE);
#endif

    // The command text is fixed at build time; running it through the shell is the point.
    FILE* pipe = popen(CAPACITY_QUERY_COMMAND, "r");  // NOLINT(cert-env33-c)
    if (pipe == nullptr)
        return false;
    const bool got_text =
        std::fgets(capacity_text, static_cast<int>(CAPACITY_TEXT_SIZE), pipe) != nullptr;
    pclose(pipe);
    return got_text;
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): text first, then key, as strstr.
std::optional<std::int32_t> extract_capacity(const char* capacity_text, const char* key) noexcept
{
    // The text ends at the first zero byte, and never past the buffer, even one that a
    // careless caller filled to the brim. memchr, not a loop: it reads the text a vector at
    // a time, where a loop would cost more than the rest of the run.
    const auto* const zero = static_cast<const char*>(std::memchr(capacity_text, '\0', CAPACITY_TEXT_SIZE));
    std::string_view text(capacity_text,
                          zero != nullptr ? static_cast<std::size_t>(zero - capacity_text) : CAPACITY_TEXT_SIZE);
    const std::size_t found = text.find(key);
    if (found == std::string_view::npos)
        return std::nullopt;
    const std::size_t equals = text.find('=', found);
    if (equals == std::string_view::npos)
        return std::nullopt;
    // The number follows the `=` directly: listings print both `"Key" = 616` and `"Key"=616`.
    const std::size_t number = equals + 1;
    if (number > CAPACITY_TEXT_SIZE - 1)
        return std::nullopt;
    text.remove_prefix(number);
    return parse_capacity(text);
}
