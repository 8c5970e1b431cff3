#include "capacity_query.h"
#include "stand_in_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

// Lays `text` out as one line read leaves it in the buffer: up to and including the first
// line feed, at most CAPACITY_TEXT_SIZE - 1 characters, and zero bytes behind.
std::vector<char> as_read(const std::string& text)
{
    std::vector<char> buffer(CAPACITY_TEXT_SIZE, '\0');
    const std::size_t line = std::min(text.find('\n'), text.size() - 1) + 1;
    const std::size_t kept = std::min({line, text.size(), CAPACITY_TEXT_SIZE - 1});
    std::copy_n(text.begin(), static_cast<std::ptrdiff_t>(kept), buffer.begin());
    return buffer;
}

struct ExtractCase {
    const char* what;
    std::string text;
    const char* key;
    std::optional<std::int32_t> expected;
};

const char* const current = CURRENT_CAPACITY_KEY;
const char* const maximum = MAXIMUM_CAPACITY_KEY;
constexpr std::int32_t int32_max = std::numeric_limits<std::int32_t>::max();

void check(const ExtractCase& c)
{
    SCOPED_TRACE(c.what);
    const std::vector<char> buffer = as_read(c.text);
    EXPECT_EQ(extract_capacity(buffer.data(), c.key), c.expected);
}

TEST(ExtractCapacity, ReadsTheNumberBehindTheKey)
{
    const ExtractCase cases[] = {
        {"blank on each side", R"("CurrentCapacity" = 616)", current, 616},
        {"nested dictionary form", R"({"CurrentCapacity"=616,"Voltage"=3931})", current, 616},
        {"white space after =", "\"CurrentCapacity\" =\t\v\f\r 616", current, 616},
        {"plus sign", R"("CurrentCapacity" = +616)", current, 616},
        {"digits end the number", R"("CurrentCapacity" = 616mAh)", current, 616},
        {"minus zero", R"("CurrentCapacity" = -0)", current, 0},
        {"zero", R"("CurrentCapacity" = 0)", current, 0},
        {"largest", R"("CurrentCapacity" = 2147483647)", current, int32_max},
        {"leading zeros", R"("CurrentCapacity" = 000000000000000616)", current, 616},
        {"maximum key", R"("CurrentCapacity" = 616 "MaxCapacity" = 700)", maximum, 700},
        {"first occurrence wins", R"("MaxCapacity" = 700 "MaxCapacity" = 1)", maximum, 700},
        {"nearest = belongs to a later property", R"("CurrentCapacity" "Voltage" = 3931)",
         current, 3931},
        {"longer keys that end alike do not match",
         R"("AppleRawCurrentCapacity" = 1079 "CurrentCapacity" = 616)", current, 616},
        {"the maximum key needs its blank",
         R"("BatteryData" = {"MaxCapacity"=1227} "MaxCapacity" = 700)", maximum, 700},
    };
    for (const ExtractCase& c : cases)
        check(c);
}

TEST(ExtractCapacity, RefusesWhatIsNotACapacity)
{
    const ExtractCase cases[] = {
        {"no key", R"("Voltage" = 3931)", current, std::nullopt},
        {"empty text", "", current, std::nullopt},
        {"no = behind the key", R"("Voltage" = 3931 "CurrentCapacity" 616)", current,
         std::nullopt},
        {"no = behind the key, digits at the text's start",
         R"(80 "CurrentCapacity" = 40 "MaxCapacity" )", maximum, std::nullopt},
        {"maximum only as a nested name", R"({"MaxCapacity"=700})", maximum, std::nullopt},
        {"no digits", R"("CurrentCapacity" = )", current, std::nullopt},
        {"a word, not digits", R"("CurrentCapacity" = Yes)", current, std::nullopt},
        {"sign alone", R"("CurrentCapacity" = -)", current, std::nullopt},
        {"negative", R"("CurrentCapacity" = -5)", current, std::nullopt},
        {"smallest", R"("CurrentCapacity" = -2147483648)", current, std::nullopt},
        {"one past the largest", R"("CurrentCapacity" = 2147483648)", current, std::nullopt},
        {"2^32, 0 in 32 bits", R"("CurrentCapacity" = 4294967296)", current, std::nullopt},
        {"2^32 + 616, 616 in 32 bits", R"("CurrentCapacity" = 4294967912)", current,
         std::nullopt},
        {"far past the largest", R"("CurrentCapacity" = 99999999999999999999999)", current,
         std::nullopt},
        {"a number past a line feed", "\"CurrentCapacity\" = \n616", current, std::nullopt},
        {"a key past a line feed", "\"CurrentCapacity\" = 616\n\"MaxCapacity\" = 700", maximum,
         std::nullopt},
        {"a key past a zero byte", std::string("\"CurrentCapacity\" = 616\0\"MaxCapacity\" = 700",
                                               43),
         maximum, std::nullopt},
        {"an = past a zero byte", std::string("\"CurrentCapacity\"\0 = 616", 24), current,
         std::nullopt},
    };
    for (const ExtractCase& c : cases)
        check(c);
}

TEST(ExtractCapacity, SeesOnlyWhatOneReadHolds)
{
    // Places `tail` so that the text ends exactly `length` characters in.
    auto ending_at = [](std::size_t length, const std::string& tail) {
        return std::string(length - tail.size(), 'x') + tail;
    };
    const std::string key_then = R"("CurrentCapacity" =)";
    const ExtractCase cases[] = {
        {"last digit is the last character read", ending_at(5119, key_then + " 7"), current, 7},
        {"the digit falls past the read", ending_at(5120, key_then + " 7"), current,
         std::nullopt},
        {"= is the last character read", ending_at(5119, key_then), current, std::nullopt},
        {"the key itself falls past the read", ending_at(5130, key_then + " 7"), current,
         std::nullopt},
    };
    for (const ExtractCase& c : cases)
        check(c);
}

TEST(ExtractCapacity, StaysInsideABufferWithoutAZeroByte)
{
    // Exactly CAPACITY_TEXT_SIZE bytes, so that the sanitizers see any read past them.
    auto filled_to_the_end = [](const std::string& tail) {
        std::vector<char> buffer(CAPACITY_TEXT_SIZE, 'x');
        std::copy(tail.begin(), tail.end(), buffer.end() - static_cast<std::ptrdiff_t>(tail.size()));
        return buffer;
    };
    EXPECT_EQ(extract_capacity(filled_to_the_end(R"("CurrentCapacity" =)").data(), current),
              std::nullopt);
    EXPECT_EQ(extract_capacity(filled_to_the_end(R"("CurrentCapacity" =7)").data(), current), 7);
    EXPECT_EQ(extract_capacity(filled_to_the_end(R"("CurrentCapacity")").data(), current),
              std::nullopt);
}

TEST(ExtractCapacity, LeavesTheTextAsItFoundIt)
{
    const std::vector<char> buffer = as_read(R"("CurrentCapacity" = 616 "MaxCapacity" = 700)");
    const std::vector<char> before = buffer;
    EXPECT_EQ(extract_capacity(buffer.data(), CURRENT_CAPACITY_KEY), 616);
    EXPECT_EQ(extract_capacity(buffer.data(), MAXIMUM_CAPACITY_KEY), 700);
    EXPECT_EQ(extract_capacity(buffer.data(), CURRENT_CAPACITY_KEY), 616);
    EXPECT_EQ(buffer, before);
}

TEST(StandInFolder, StepsUpFromTheProgramsFolder)
{
    // The program, the folder named from its own, and the folder found (nullptr: none).
    const char* const cases[][3] = {
        {"/usr/bin/powmeter", "../lib/powmeter/bin", "/usr/lib/powmeter/bin"},
        {"/home/me/.local/bin/powmeter", "../../lib/x", "/home/me/lib/x"},
        {"/bin/powmeter", "../lib/powmeter/bin", "/lib/powmeter/bin"},
        {"/powmeter", "../../lib", "/lib"},  // above the root is the root
        {"/opt/bin/powmeter", "stand-ins", "/opt/bin/stand-ins"},
        {"/opt/bin/powmeter", "/usr/lib/powmeter/bin", "/usr/lib/powmeter/bin"},
        {"powmeter", "../lib", nullptr},
        {"", "../lib", nullptr},
    };
    for (const auto& c : cases) {
        char out[32] = "unchanged";
        EXPECT_EQ(stand_in_folder(c[0], c[1], out, sizeof out), c[2] != nullptr) << c[0];
        EXPECT_STREQ(out, c[2] != nullptr ? c[2] : "unchanged") << c[0];
    }
    // The folder and its zero byte must fit: one byte less does not.
    char exact[22];
    EXPECT_TRUE(stand_in_folder("/usr/bin/powmeter", "../lib/powmeter/bin", exact, sizeof exact));
    EXPECT_FALSE(stand_in_folder("/usr/bin/powmeter", "../lib/powmeter/bin", exact, sizeof exact - 1));
}

}  // namespace

