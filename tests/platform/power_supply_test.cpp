#include "power_supply.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Stand where an attribute's file should be: a folder or a FIFO of that name instead.
const std::string A_FOLDER = "<folder>";
const std::string A_FIFO = "<fifo>";

struct Supply {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
};

// A power-supply class in a temporary folder, one file per attribute, removed afterwards.
class SysfsTree {
public:
    explicit SysfsTree(const std::vector<Supply>& supplies)
    {
        std::string pattern = (fs::temp_directory_path() / "powmeter-sysfs-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        for (const Supply& supply : supplies) {
            const fs::path folder = root_ / "class" / "power_supply" / supply.name;
            fs::create_directories(folder);
            for (const auto& [attribute, content] : supply.attributes) {
                if (content == A_FOLDER)
                    fs::create_directory(folder / attribute);
                else if (content == A_FIFO)
                    mkfifo((folder / attribute).c_str(), 0600);
                else
                    std::ofstream(folder / attribute) << content;
            }
        }
    }
    ~SysfsTree() { fs::remove_all(root_); }
    SysfsTree(const SysfsTree&) = delete;
    SysfsTree& operator=(const SysfsTree&) = delete;

    std::string root() const { return root_.string(); }

private:
    fs::path root_;
};

using Pair = std::pair<std::int64_t, std::int64_t>;

// The listed current and maximum capacity, or nothing when no battery is listed.
std::optional<Pair> capacities(const std::vector<Supply>& supplies)
{
    const SysfsTree tree(supplies);
    const PowerSources sources = read_power_sources(tree.root());
    if (!sources.battery)
        return std::nullopt;
    return Pair{sources.battery->current_capacity, sources.battery->max_capacity};
}

Supply battery(std::string name, std::vector<std::pair<std::string, std::string>> attributes)
{
    attributes.emplace_back("type", "Battery\n");
    return {std::move(name), std::move(attributes)};
}

struct Case {
    const char* what;
    std::vector<Supply> supplies;
    std::optional<Pair> expected;
};

void check(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(capacities(c.supplies), c.expected);
    }
}

TEST(AttributeText, ParsesWholeIntegersOnly)
{
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {"42\n", 42},
        {"  -7 \t", -7},
        {"0", 0},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"", std::nullopt},
        {" \n", std::nullopt},
        {"+5", std::nullopt},
        {"12 mAh", std::nullopt},
        {"1.5", std::nullopt},
        {"0x10", std::nullopt},
        {"-", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(parse_attribute_integer(text), expected) << '"' << text << '"';
}

TEST(PowerSources, SelectsTheSystemsBatteries)
{
    check({
        {"a peripheral sorted first is passed over",
         {battery("00-mouse", {{"scope", "Device"}, {"capacity", "40"}}),
          battery("BAT0", {{"capacity", "80"}})},
         Pair{80, 100}},
        {"scope System, type in lower case",
         {{"b", {{"type", "battery"}, {"scope", "System"}, {"capacity", "70"}}}}, Pair{70, 100}},
        {"scope Unknown", {battery("b", {{"scope", "Unknown\n"}, {"capacity", "70"}})}, Pair{70, 100}},
        {"present 0", {battery("BAT0", {{"present", "0\n"}, {"capacity", "80"}})}, std::nullopt},
        {"present 1", {battery("BAT0", {{"present", "1\n"}, {"capacity", "80"}})}, Pair{80, 100}},
        {"a mains supply is no battery", {{"AC", {{"type", "Mains"}, {"capacity", "80"}}}},
         std::nullopt},
        {"a blank scope counts as none", {battery("b", {{"scope", " \n"}, {"capacity", "70"}})},
         Pair{70, 100}},
        {"no type", {{"BAT0", {{"capacity", "80"}}}}, std::nullopt},
        {"no entries", {}, std::nullopt},
    });
}

TEST(PowerSources, ReadsOneFamilyPerBattery)
{
    check({
        {"energy, in mWh", {battery("BAT0", {{"energy_now", "41230000"}, {"energy_full", "52340000"}})},
         Pair{41230, 52340}},
        {"charge, in mAh", {battery("BAT0", {{"charge_now", "3456999"}, {"charge_full", "4012000"}})},
         Pair{3456, 4012}},
        {"capacity only", {battery("BAT0", {{"capacity", "86\n"}})}, Pair{86, 100}},
        {"energy before charge and capacity",
         {battery("BAT0", {{"energy_now", "1000"}, {"energy_full", "2000"}, {"charge_now", "5000"},
                           {"charge_full", "6000"}, {"capacity", "99"}})},
         Pair{1, 2}},
        {"an unreadable energy_now: charge, never energy_full with charge_now",
         {battery("BAT0", {{"energy_now", A_FOLDER}, {"energy_full", "52340000"},
                           {"charge_now", "3000000"}, {"charge_full", "4000000"}})},
         Pair{3000, 4000}},
        {"full 0 falls through to capacity",
         {battery("BAT0", {{"energy_now", "0"}, {"energy_full", "0"}, {"capacity", "55"}})},
         Pair{55, 100}},
        {"now far above full", {battery("BAT0", {{"charge_now", "3000001"}, {"charge_full", "2000000"}})},
         std::nullopt},
        {"now half again above full still counts",
         {battery("BAT0", {{"charge_now", "3000000"}, {"charge_full", "2000000"}})}, Pair{3000, 2000}},
        {"negative now", {battery("BAT0", {{"energy_now", "-5"}, {"energy_full", "2000000"}})},
         std::nullopt},
        {"empty files", {battery("BAT0", {{"energy_now", ""}, {"energy_full", "\n"}, {"capacity", ""}})},
         std::nullopt},
        {"a FIFO does not hang the read", {battery("BAT0", {{"capacity", A_FIFO}})}, std::nullopt},
        {"a file larger than any attribute",
         {battery("BAT0", {{"capacity", std::string(70000, ' ') + "80"}})}, std::nullopt},
        {"capacity above 150", {battery("BAT0", {{"capacity", "151"}})}, std::nullopt},
        {"capacity below 0", {battery("BAT0", {{"capacity", "-1"}})}, std::nullopt},
        {"a reading no battery has", {battery("BAT0", {{"energy_now", "1"}, {"energy_full", "2000000000000000"}})},
         std::nullopt},
    });
}

TEST(PowerSources, CombinesSeveralBatteries)
{
    check({
        {"one family: sums",
         {battery("BAT0", {{"energy_now", "18500000"}, {"energy_full", "23200000"}}),
          battery("BAT1", {{"energy_now", "44000000"}, {"energy_full", "71000000"}})},
         Pair{62500, 94200}},
        {"mixed families: the mean of percentages rounded half up",
         {battery("BAT0", {{"energy_now", "1005"}, {"energy_full", "2000"}}),  // 50.25 -> 50
          battery("BAT1", {{"charge_now", "2"}, {"charge_full", "8"}}),        // 25 -> 25
          battery("BAT2", {{"capacity", "91"}})},
         Pair{50 + 25 + 91, 300}},
        {"halves round up", {battery("BAT0", {{"charge_now", "1"}, {"charge_full", "8"}}),  // 12.5
                             battery("BAT1", {{"capacity", "10"}})},
         Pair{13 + 10, 200}},
        {"a battery without a reading is left out",
         {battery("BAT0", {{"capacity", "80"}}), battery("BAT1", {{"status", "Unknown"}})},
         Pair{80, 100}},
    });
}

TEST(PowerSources, ListsStateBesideTheCapacities)
{
    const SysfsTree tree({
        {"AC", {{"type", "Mains"}, {"online", "0"}}},
        {"BAT0", {{"type", "Battery"}, {"status", "Full\n"}, {"charge_now", "1000000"},
                  {"charge_full", "1000000"}, {"charge_full_design", "1200000"}}},
        {"BAT1", {{"type", "Battery"}, {"status", "Charging"}, {"charge_now", "500000"},
                  {"charge_full", "1000000"}, {"charge_full_design", "1100000"}}},
        {"mouse", {{"type", "USB"}, {"scope", "Device"}, {"online", "1"}}},
        {"pad", {{"type", "Wireless"}, {"online", "1"}}},
        {"usbc", {{"type", "USB_PD"}, {"online", "2"}}},
    });
    const PowerSources sources = read_power_sources(tree.root());
    ASSERT_TRUE(sources.battery);
    EXPECT_EQ(sources.battery->design_capacity, 2300);
    EXPECT_TRUE(sources.battery->is_charging);
    EXPECT_FALSE(sources.battery->fully_charged);
    EXPECT_FALSE(sources.battery->voltage);  // several batteries have no one voltage
    // Neither the mouse's own supply nor a wireless charging pad powers the device.
    ASSERT_EQ(sources.adapters.size(), 2U);
    EXPECT_FALSE(sources.adapters[0].online);
    EXPECT_TRUE(sources.adapters[1].usb);
    EXPECT_TRUE(sources.adapters[1].online);
}

TEST(PowerSources, MissingFolderIsNoBattery)
{
    const PowerSources sources = read_power_sources("/nonexistent/powmeter/sysfs");
    EXPECT_FALSE(sources.battery);
    EXPECT_TRUE(sources.adapters.empty());
}

std::string listing_of(const PowerSources& sources)
{
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    print_registry_listing(out, sources);
    std::fclose(out);
    std::string listing(text, size);
    std::free(text);
    return listing;
}

TEST(RegistryListing, PrintsTheBatteryAsOneObject)
{
    PowerSources sources;
    sources.adapters.push_back({false, true});
    DeviceBattery battery;
    battery.current_capacity = 3456;
    battery.max_capacity = 4012;
    battery.voltage = 12150;
    sources.battery = battery;
    EXPECT_EQ(listing_of(sources),
              "+-o Root  <class IORegistryEntry, retain 4>\n"
              "  +-o power_supply  <class LinuxPowerSupplyClass, registered, matched, active, busy 0 (0 ms), retain 4>\n"
              "    +-o Mains  <class LinuxPowerAdapter, registered, matched, active, busy 0 (0 ms), retain 4>\n"
              "    | {\n"
              "    |   \"Online\" = Yes\n"
              "    |   \"Type\" = \"Mains\"\n"
              "    | }\n"
              "    | \n"
              "    +-o LinuxBattery  <class LinuxBattery, registered, matched, active, busy 0 (0 ms), retain 4>\n"
              "      {\n"
              "        \"CurrentCapacity\" = 3456\n"
              "        \"ExternalConnected\" = Yes\n"
              "        \"FullyCharged\" = No\n"
              "        \"IsCharging\" = No\n"
              "        \"MaxCapacity\" = 4012\n"
              "        \"Voltage\" = 12150\n"
              "      }\n"
              "      \n");

    sources.battery.reset();
    EXPECT_EQ(listing_of(sources).find("Capacity"), std::string::npos);
}

}  // namespace
