#include "registry_printer.h"
#include "registry_tree.h"
#include "registry_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The options a command line gives, in one line of text; "usage" when it is refused.
std::string parsed(std::vector<std::string> words)
{
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::optional<ListingOptions> o = parse_listing_options(static_cast<int>(words.size()), argv.data());
    if (!o)
        return "usage";
    std::ostringstream text;
    text << "l" << o->all_properties << " c=" << o->class_name.value_or("-") << " n=" << o->name.value_or("-")
         << " k=" << o->key.value_or("-") << " r" << o->as_roots << " d" << o->depth << " w"
         << (o->width ? std::to_string(*o->width) : "-") << " a" << o->xml << " b" << o->bold << " x"
         << o->hexadecimal << " s" << o->state << " p" << o->service_plane;
    return text.str();
}

TEST(ListingOptions, ParsesAsGetoptDoes)
{
    const std::string plain = "l0 c=- n=- k=- r0 d0 w- a0 b0 x0 s1 p1";
    const struct {
        std::vector<std::string> words;
        std::string expected;
    } cases[] = {
        {{"ioreg"}, plain},
        {{"ioreg", "-l"}, "l1 c=- n=- k=- r0 d0 w- a0 b0 x0 s1 p1"},
        {{"ioreg", "-rc", "AppleSmartBattery"}, "l0 c=AppleSmartBattery n=- k=- r1 d0 w- a0 b0 x0 s1 p1"},
        {{"ioreg", "-brc", "X"}, "l0 c=X n=- k=- r1 d0 w- a0 b1 x0 s1 p1"},
        {{"ioreg", "-arn", "AppleSmartBattery"}, "l0 c=- n=AppleSmartBattery k=- r1 d0 w- a1 b0 x0 s1 p1"},
        {{"ioreg", "-n", "N", "-r"}, "l0 c=- n=N k=- r1 d0 w- a0 b0 x0 s1 p1"},
        {{"ioreg", "-w0"}, "l0 c=- n=- k=- r0 d0 w0 a0 b0 x0 s1 p1"},
        {{"ioreg", "-w", "80"}, "l0 c=- n=- k=- r0 d0 w80 a0 b0 x0 s1 p1"},
        {{"ioreg", "-r", "-d", "1", "-k", "BatteryPercent"}, "l0 c=- n=- k=BatteryPercent r1 d1 w- a0 b0 x0 s1 p1"},
        {{"ioreg", "-d2"}, "l0 c=- n=- k=- r0 d2 w- a0 b0 x0 s1 p1"},
        {{"ioreg", "-xS"}, "l0 c=- n=- k=- r0 d0 w- a0 b0 x1 s0 p1"},
        {{"ioreg", "-Ss"}, plain},
        {{"ioreg", "-fit"}, plain},
        {{"ioreg", "-p", "IOService"}, plain},
        {{"ioreg", "-pIOPower"}, "l0 c=- n=- k=- r0 d0 w- a0 b0 x0 s1 p0"},
        {{"ioreg", "-c", "A", "-c", "B"}, "l0 c=B n=- k=- r0 d0 w- a0 b0 x0 s1 p1"},
        {{"ioreg", "-z"}, "usage"},
        {{"ioreg", "-c"}, "usage"},
        {{"ioreg", "-w", "-1"}, "usage"},
        {{"ioreg", "-w", "8x"}, "usage"},
        {{"ioreg", "-d", ""}, "usage"},
        {{"ioreg", "-w", "99999999999999999999999"}, "usage"},
        {{"ioreg", "word"}, "usage"},
        {{"ioreg", "-l", "word", "-r"}, "usage"},
        {{"ioreg", "--", "word"}, "usage"},
        {{"ioreg", "word", "-z"}, "usage"},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const std::string& word : c.words)
            line += word + " ";
        EXPECT_EQ(parsed(c.words), c.expected) << line;
    }
}

TEST(Listing, CutsLinesToTheWidth)
{
    const struct {
        const char* line;
        std::size_t width;
        const char* expected;
    } cases[] = {
        {"abcdef", 0, "abcdef"},
        {"abcdef", 6, "abcdef"},
        {"abcdef", 5, "abcd$"},
        {"abcdef", 1, "$"},
        {"", 3, ""},
        {"+-o \033[1mAppleSmartBattery\033[0m  <class", 12, "+-o \033[1mAppleSm\033[0m$"},
        {"\033[1mab\033[0m", 2, "\033[1mab\033[0m"},
        {"ab\033[1", 2, "ab\033[1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cut_line(c.line, c.width), c.expected) << c.line << " to " << c.width;
}

TEST(Listing, PrintsValuesInThePlatformsForms)
{
    const struct {
        PropertyValue value;
        bool hexadecimal;
        std::string expected;
    } cases[] = {
        {make_number(0), false, "0"},
        {make_number(4012), false, "4012"},
        {make_number(-1400), false, "18446744073709550216"},
        {make_number(INT64_MIN), false, "9223372036854775808"},
        {make_number(255), true, "0xff"},
        {make_number(-1), true, "0xffffffffffffffff"},
        {make_boolean(true), false, "Yes"},
        {make_boolean(false), true, "No"},
        {make_text("DELL 7FHHV ~ !"), false, "\"DELL 7FHHV ~ !\""},
        {make_text("a \"q\" b\\c"), false, "\"a 'q' b/c\""},
        {make_text("x\n\"CurrentCapacity\" = 1\r\t\x7f\x01\xc3\xa9"), false, "\"x?'CurrentCapacity' = 1??????\""},
        {make_text(std::string_view("nul\0end", 7)), false, "\"nul?end\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(value_text(c.value, c.hexadecimal), c.expected);
    EXPECT_EQ(xml_escaped("<a & b> \"q\"\n\xc3\xa9 ~\x7f"), "&lt;a &amp; b&gt; \"q\"??? ~?");
}

TEST(DerivedValues, FollowThePlatformsUnits)
{
    const auto d = Direction::discharging;
    const auto c = Direction::charging;
    const auto n = Direction::neither;
    // Minutes: now, full, rate per hour, direction.
    EXPECT_EQ(minutes_remaining(41230, 52340, 9870, d), 250);  // 250.6 truncated
    EXPECT_EQ(minutes_remaining(30, 50, 15, c), 80);
    EXPECT_EQ(minutes_remaining(60, 50, 15, c), 0);  // past full while charging
    EXPECT_EQ(minutes_remaining(30, 50, 15, n), NO_ESTIMATE);
    EXPECT_EQ(minutes_remaining(30, 50, 0, d), NO_ESTIMATE);
    EXPECT_EQ(minutes_remaining(30, 50, std::nullopt, d), NO_ESTIMATE);
    EXPECT_EQ(minutes_remaining(65534, 1, 60, d), 65534);
    EXPECT_EQ(minutes_remaining(65535, 1, 60, d), NO_ESTIMATE);
    EXPECT_EQ(minutes_remaining(65536, 1, 60, d), NO_ESTIMATE);
    EXPECT_EQ(minutes_remaining(INT64_MAX, 1, 1, d), NO_ESTIMATE);
    // Amperage: µA, else µW over µV, signed by direction.
    EXPECT_EQ(amperage_ma(703000, 1, 1, d), -703);
    EXPECT_EQ(amperage_ma(703999, std::nullopt, std::nullopt, c), 703);
    EXPECT_EQ(amperage_ma(703000, std::nullopt, std::nullopt, n), 0);
    EXPECT_EQ(amperage_ma(std::nullopt, 15000000, 12600000, c), 1190);
    EXPECT_EQ(amperage_ma(std::nullopt, 15000000, 0, c), std::nullopt);
    EXPECT_EQ(amperage_ma(std::nullopt, 15000000, std::nullopt, c), std::nullopt);
    EXPECT_EQ(amperage_ma(std::nullopt, std::nullopt, 12600000, c), std::nullopt);
    // Exact past 64 bits, for voltages weighed by energies; powmeter's rounding of a level.
    EXPECT_EQ(multiply_divide(3, 5, 2), 7U);
    EXPECT_EQ(multiply_divide(UINT64_MAX, UINT64_MAX, UINT64_MAX), UINT64_MAX);
    EXPECT_EQ(multiply_divide(1ULL << 32U, 1ULL << 32U, 3), 6148914691236517205U);
    EXPECT_EQ(multiply_divide(60'000'000'000'000, 11'100'000, 80'000'000), 8'325'000'000'000U);
    EXPECT_EQ(multiply_divide(1ULL << 63U, 2, 1), std::nullopt);
    EXPECT_EQ(multiply_divide(1ULL << 63U, 2, 2), 1ULL << 63U);
    EXPECT_EQ(multiply_divide(5, 7, 0), std::nullopt);
    EXPECT_EQ(level_percent(994, 1000), 99);
    EXPECT_EQ(level_percent(995, 1000), 100);
    EXPECT_EQ(level_percent(3, 2), 150);
    EXPECT_EQ(level_percent(1, 0), std::nullopt);
    EXPECT_EQ(direction_of("Charging"), c);
    EXPECT_EQ(direction_of("Discharging"), d);
    EXPECT_EQ(direction_of("Not charging"), n);
}

// A mains adapter offline and a battery at 42 of 100; `more` adds further adapters,
// peripherals and batteries.
struct Shape {
    std::size_t adapters = 1;
    std::size_t peripherals = 0;
    std::size_t batteries = 1;
};

std::string text_listing(const std::vector<std::string>& words, Shape shape = {})
{
    std::vector<std::string> argv_words = {"ioreg"};
    argv_words.insert(argv_words.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& word : argv_words)
        argv.push_back(word.data());
    const ListingOptions options = *parse_listing_options(static_cast<int>(argv.size()), argv.data());
    auto sources = std::make_unique<PowerSources>();
    sources->adapter_count = shape.adapters;
    for (std::size_t i = 0; i < shape.adapters; ++i)
        sources->adapters[i].online = false;
    sources->peripheral_count = shape.peripherals;
    sources->battery_count = shape.batteries;
    for (std::size_t i = 0; i < shape.batteries; ++i) {
        sources->batteries[i].now = 42;
        sources->batteries[i].full = 100;
    }
    const auto tree = std::make_unique<RegistryTree>();
    build_registry_tree(*sources, *tree);
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    print_listing(out, choose_listing(tree->root(), options), options);
    std::fclose(out);
    std::string listing(text, size);
    std::free(text);
    return listing;
}

TEST(Listing, DrawsTheTreeAsThePlatformDoes)
{
    const std::string state = "registered, matched, active, busy 0 (0 ms), retain 7>\n";
    EXPECT_EQ(text_listing({"-n", "Mains"}),
              "+-o Root  <class IORegistryEntry, id 0x100000100, retain 11>\n"
              "  +-o Linux  <class IOPlatformExpertDevice, id 0x100000101, " + state +
              "    +-o power_supply  <class LinuxPowerSupplyClass, id 0x100000102, " + state +
              "    | +-o batteries  <class LinuxPowerSupplyGroup, id 0x100000103, " + state +
              "    | | +-o System  <class LinuxPowerSupplyScope, id 0x100000104, " + state +
              "    | |   +-o AppleSmartBatteryManager  <class AppleSmartBatteryManager, id 0x100000105, " + state +
              "    | |     +-o AppleSmartBattery  <class AppleSmartBattery, id 0x100000106, " + state +
              "    | +-o adapters  <class LinuxPowerSupplyGroup, id 0x100000107, " + state +
              "    |   +-o Mains  <class LinuxPowerAdapter, id 0x100000108, " + state +
              "    |       {\n"
              "    |         \"Online\" = No\n"
              "    |         \"Type\" = \"Mains\"\n"
              "    |       }\n"
              "    |       \n"
              "    +-o input  <class LinuxInputClass, id 0x100000109, " + state);
    EXPECT_EQ(text_listing({"-S", "-d", "2", "-k", "CurrentCapacity"}),
              "+-o Root  <class IORegistryEntry, id 0x100000100, retain 11>\n"
              "  +-o Linux  <class IOPlatformExpertDevice, id 0x100000101, retain 7>\n");
    const std::string battery = text_listing({"-r", "-c", "IOPMPowerSource"});
    EXPECT_EQ(battery.substr(0, battery.find("\"TimeRemaining\"")),
              "+-o AppleSmartBattery  <class AppleSmartBattery, id 0x100000106, " + state +
              "    {\n"
              "      \"ExternalConnected\" = No\n"
              "      ");
    EXPECT_EQ(battery.substr(battery.rfind('}')), "}\n    \n");
    EXPECT_EQ(text_listing({"-l", "-d", "2"}),
              "+-o Root  <class IORegistryEntry, id 0x100000100, retain 11>\n"
              "  | {\n"
              "  | }\n"
              "  | \n"
              "  +-o Linux  <class IOPlatformExpertDevice, id 0x100000101, " + state +
              "      {\n"
              "      }\n"
              "      \n");
    // A match inside a match is part of the first one's tree, not a tree of its own.
    EXPECT_EQ(text_listing({"-r", "-c", "IOService", "-d", "1"}),
              "+-o Linux  <class IOPlatformExpertDevice, id 0x100000101, " + state +
              "    {\n    }\n    \n");
    EXPECT_EQ(text_listing({"-r", "-c", "AppleSmartBattery", "-n", "Mains"}), "");
    // Every object is an IORegistryEntry, every one but Root an IOService; -r alone asks
    // for no object; -n takes whole names only.
    EXPECT_EQ(text_listing({"-c", "IORegistryEntry"}), text_listing({"-l"}));
    std::string services = text_listing({"-l"});
    const std::string root_braces = "  | {\n  | }\n  | \n";
    services.erase(services.find(root_braces), root_braces.size());
    EXPECT_EQ(text_listing({"-c", "IOService"}), services);
    EXPECT_EQ(text_listing({"-r", "-l"}), text_listing({"-l"}));
    EXPECT_EQ(text_listing({"-n", "Main"}), text_listing({}));
    EXPECT_EQ(text_listing({"-n", "Mainsx"}), text_listing({}));
    EXPECT_EQ(text_listing({"-r", "-c", ""}), "");
    EXPECT_EQ(text_listing({"-p", "IOPower", "-l"}), "+-o Root  <class IORegistryEntry, id 0x100000100, retain 11>\n    {\n    }\n    \n");
    EXPECT_EQ(text_listing({"-rp", "IOPower", "-l"}), "");
}

TEST(Listing, WritesAPropertyList)
{
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                              "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                              "<plist version=\"1.0\">\n";
    EXPECT_EQ(text_listing({"-a", "-rn", "Mains"}),
              head + "<array>\n\t<dict>\n"
                     "\t\t<key>IOObjectClass</key>\n\t\t<string>LinuxPowerAdapter</string>\n"
                     "\t\t<key>IOObjectRetainCount</key>\n\t\t<integer>7</integer>\n"
                     "\t\t<key>IORegistryEntryID</key>\n\t\t<integer>4294967560</integer>\n"
                     "\t\t<key>IORegistryEntryName</key>\n\t\t<string>Mains</string>\n"
                     "\t\t<key>Online</key>\n\t\t<false/>\n"
                     "\t\t<key>Type</key>\n\t\t<string>Mains</string>\n"
                     "\t</dict>\n</array>\n</plist>\n");
    EXPECT_EQ(text_listing({"-a", "-d", "2"}),
              head + "<dict>\n"
                     "\t<key>IOObjectClass</key>\n\t<string>IORegistryEntry</string>\n"
                     "\t<key>IOObjectRetainCount</key>\n\t<integer>11</integer>\n"
                     "\t<key>IORegistryEntryChildren</key>\n\t<array>\n\t\t<dict>\n"
                     "\t\t\t<key>IOObjectClass</key>\n\t\t\t<string>IOPlatformExpertDevice</string>\n"
                     "\t\t\t<key>IOObjectRetainCount</key>\n\t\t\t<integer>7</integer>\n"
                     "\t\t\t<key>IORegistryEntryID</key>\n\t\t\t<integer>4294967553</integer>\n"
                     "\t\t\t<key>IORegistryEntryName</key>\n\t\t\t<string>Linux</string>\n"
                     "\t\t</dict>\n\t</array>\n"
                     "\t<key>IORegistryEntryID</key>\n\t<integer>4294967552</integer>\n"
                     "\t<key>IORegistryEntryName</key>\n\t<string>Root</string>\n"
                     "</dict>\n</plist>\n");
    EXPECT_NE(text_listing({"-arc", "AppleSmartBattery", "-x"}).find("<integer>42</integer>"), std::string::npos);
    EXPECT_EQ(text_listing({"-arn", "Nothing"}), "");
    EXPECT_EQ(text_listing({"-a", "-r", "-d", "1", "-c", "IOService"}),
              head + "<array>\n\t<dict>\n"
                     "\t\t<key>IOObjectClass</key>\n\t\t<string>IOPlatformExpertDevice</string>\n"
                     "\t\t<key>IOObjectRetainCount</key>\n\t\t<integer>7</integer>\n"
                     "\t\t<key>IORegistryEntryID</key>\n\t\t<integer>4294967553</integer>\n"
                     "\t\t<key>IORegistryEntryName</key>\n\t\t<string>Linux</string>\n"
                     "\t</dict>\n</array>\n</plist>\n");
    // The whole tree, the properties of the one object asked for.
    const std::string tree = text_listing({"-a", "-n", "Mains"});
    EXPECT_NE(tree.find("<key>Online</key>"), std::string::npos);
    EXPECT_EQ(tree.find("<key>MaxCapacity</key>"), std::string::npos);
    // Nested dictionaries keep their values' types.
    const std::string battery = text_listing({"-a", "-rc", "AppleSmartBattery"});
    EXPECT_NE(battery.find("\t\t<key>BatteryData</key>\n\t\t<dict>\n\t\t\t<key>StateOfCharge</key>\n"
                           "\t\t\t<integer>42</integer>\n\t\t</dict>\n"),
              std::string::npos);
}

TEST(Listing, PutsTheBatteryWhereThePlatformDoes)
{
    // Four blanks, two bars, eleven blanks: where scripts count columns and fields.
    const std::string prefix = "    | |           \"";
    const Shape shapes[] = {{0, 0, 1}, {2, 0, 1}, {1, 5, 1}, {0, 5, 2}, {MOST_ADAPTERS, MOST_PERIPHERALS, 1}};
    const std::vector<std::string> command_lines[] = {
        {"-l"}, {"-l", "-w0"}, {"-c", "AppleSmartBattery"}, {"-n", "AppleSmartBattery"}, {"-k", "MaxCapacity"}};
    for (const Shape& shape : shapes) {
        for (const auto& words : command_lines) {
            const std::string listing = text_listing(words, shape);
            std::size_t at = listing.find("+-o AppleSmartBattery  ");
            ASSERT_NE(at, std::string::npos);
            at = listing.find('\n', listing.find('{', at)) + 1;
            std::size_t lines = 0;
            for (; listing.compare(at + prefix.size() - 3, 1, "}") != 0; at = listing.find('\n', at) + 1, ++lines)
                ASSERT_EQ(listing.substr(at, prefix.size()), prefix)
                    << words.front() << " " << shape.adapters << shape.peripherals << shape.batteries;
            EXPECT_GT(lines, 10U);
        }
    }
}

}  // namespace
