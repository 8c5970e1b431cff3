#include "power_supply.h"
#include "registry_printer.h"
#include "registry_tree.h"
#include "registry_view.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Stand where an attribute's file should be: a folder or a FIFO of that name instead, or a
// link to itself, which exists but cannot be opened (ELOOP), even by root.
const std::string A_FOLDER = "<folder>";
const std::string A_FIFO = "<fifo>";
const std::string UNREADABLE = "<unreadable>";

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
                fs::create_directories((folder / attribute).parent_path());
                if (content == A_FOLDER)
                    fs::create_directory(folder / attribute);
                else if (content == A_FIFO)
                    mkfifo((folder / attribute).c_str(), 0600);
                else if (content == UNREADABLE)
                    fs::create_symlink(attribute, folder / attribute);
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

// The sources read from `supplies` and the tree built from them, kept together because the
// tree refers to the sources' texts.
struct Listed {
    PowerSources sources;
    RegistryTree tree;

    // The first object named `name`, depth first, or nullptr.
    const RegistryObject* find(std::string_view name, const RegistryObject* from = nullptr) const
    {
        from = from != nullptr ? from : &tree.root();
        if (from->name == name)
            return from;
        for (std::size_t i = 0; i < from->child_count; ++i)
            if (const RegistryObject* found = find(name, &from->children[i]))
                return found;
        return nullptr;
    }
};

std::unique_ptr<Listed> list(const std::vector<Supply>& supplies)
{
    const SysfsTree folder(supplies);
    auto listed = std::make_unique<Listed>();
    read_power_sources(folder.root(), listed->sources);
    build_registry_tree(listed->sources, listed->tree);
    return listed;
}

// The listed current and maximum capacity, or nothing when no battery is listed or, as
// after a failure to read, nothing at all.
std::optional<Pair> capacities(const std::vector<Supply>& supplies)
{
    const auto listed = list(supplies);
    const RegistryObject* battery = listed->find("AppleSmartBattery");
    if (battery == nullptr || listed->sources.failure)
        return std::nullopt;
    return Pair{battery->find("CurrentCapacity")->value.number, battery->find("MaxCapacity")->value.number};
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
        {"\r\f\v42\v\f\r", 42},
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
        {"scope in any case", {battery("b", {{"scope", "system"}, {"capacity", "70"}}),
                               battery("c", {{"scope", "DEVICE"}, {"capacity", "10"}})},
         Pair{70, 100}},
        {"present 0", {battery("BAT0", {{"present", "0\n"}, {"capacity", "80"}})}, std::nullopt},
        {"present 1", {battery("BAT0", {{"present", "1\n"}, {"capacity", "80"}})}, Pair{80, 100}},
        {"a mains supply is no battery", {{"AC", {{"type", "Mains"}, {"capacity", "80"}}}},
         std::nullopt},
        {"a blank scope counts as none", {battery("b", {{"scope", " \n"}, {"capacity", "70"}})},
         Pair{70, 100}},
        {"no type", {{"BAT0", {{"capacity", "80"}}}}, std::nullopt},
        {"an unreadable scope fails the listing", {battery("BAT0", {{"scope", UNREADABLE}, {"capacity", "80"}})},
         std::nullopt},
        {"an unreadable model name does not", {battery("BAT0", {{"model_name", UNREADABLE}, {"capacity", "80"}})},
         Pair{80, 100}},
        {"type in capitals", {{"b", {{"type", "BATTERY"}, {"capacity", "70"}}}}, Pair{70, 100}},
        {"type Bat is no battery", {{"b", {{"type", "Bat"}, {"capacity", "70"}}}}, std::nullopt},
        {"type Battery2 is no battery", {{"b", {{"type", "Battery2"}, {"capacity", "70"}}}}, std::nullopt},
        {"present 2", {battery("BAT0", {{"present", "2"}, {"capacity", "80"}})}, Pair{80, 100}},
        {"present -1", {battery("BAT0", {{"present", "-1"}, {"capacity", "80"}})}, Pair{80, 100}},
        {"present yes is no number", {battery("BAT0", {{"present", "yes"}, {"capacity", "80"}})}, Pair{80, 100}},
        {"present 00", {battery("BAT0", {{"present", "00"}, {"capacity", "80"}})}, std::nullopt},
        {"no entries", {}, std::nullopt},
    });
}

TEST(PowerSources, ReadsOneFamilyPerBattery)
{
    check({
        {"energy, in mWh", {battery("BAT0", {{"energy_now", "41230000"}, {"energy_full", "52340000"}})},
         Pair{41230, 52340}},
        {"charge, in mAh to the nearest", {battery("BAT0", {{"charge_now", "3456999"}, {"charge_full", "4012000"}})},
         Pair{3457, 4012}},
        {"62.5% kept by one mAh more", {battery("BAT0", {{"charge_now", "62500"}, {"charge_full", "100000"}})}, Pair{63, 100}},
        {"too small for whole mAh: µAh", {battery("BAT0", {{"charge_now", "5500"}, {"charge_full", "9000"}})}, Pair{5500, 9000}},
        {"a reading of now wins over its average",
         {battery("BAT0", {{"energy_now", "1000000"}, {"energy_avg", "3000000"}, {"energy_full", "4000000"}})}, Pair{1000, 4000}},
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
        {"a value across the first page's end", {battery("BAT0", {{"capacity", std::string(4095, ' ') + "80"}})},
         Pair{80, 100}},
        {"a value after 5000 blanks", {battery("BAT0", {{"capacity", std::string(5000, ' ') + "80"}})}, Pair{80, 100}},
        {"65536 bytes, the largest page", {battery("BAT0", {{"capacity", std::string(65534, ' ') + "80"}})},
         Pair{80, 100}},
        {"65537 bytes", {battery("BAT0", {{"capacity", std::string(65535, ' ') + "80"}})}, std::nullopt},
        {"a value followed by 70000 blanks", {battery("BAT0", {{"capacity", "80" + std::string(70000, ' ')}})},
         std::nullopt},
        {"the largest reading, the kernel's int", {battery("BAT0", {{"energy_now", "1"}, {"energy_full", "2147483647"}})},
         Pair{0, 2147484}},
        {"one past the largest", {battery("BAT0", {{"energy_now", "1"}, {"energy_full", "2147483648"}})},
         std::nullopt},
        {"capacity 0", {battery("BAT0", {{"capacity", "0"}})}, Pair{0, 100}},
        {"capacity 120", {battery("BAT0", {{"capacity", "120"}})}, Pair{120, 100}},
        {"capacity 150", {battery("BAT0", {{"capacity", "150"}})}, Pair{150, 100}},
        {"energy_now 0", {battery("BAT0", {{"energy_now", "0"}, {"energy_full", "2000000"}})}, Pair{0, 2000}},
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

// What the device battery lists for a key, as the text form prints it; nothing when absent.
std::optional<std::string> listed(const std::vector<Supply>& supplies, std::string_view key)
{
    const auto listed = list(supplies);
    if (listed->sources.failure)
        return "failure";
    const RegistryObject* battery = listed->find("AppleSmartBattery");
    const Property* property = battery != nullptr ? battery->find(key) : nullptr;
    return property != nullptr ? std::optional(value_text(property->value, false)) : std::nullopt;
}

const Supply AC_OFF{"AC0", {{"type", "Mains"}, {"online", "0"}}};
const Supply AC_ON{"AC1", {{"type", "Mains"}, {"online", "1"}}};

Supply energy(std::string name, std::string status, std::vector<std::pair<std::string, std::string>> more = {})
{
    more.insert(more.end(), {{"status", std::move(status)}, {"energy_now", "30000000"},
                             {"energy_full", "50000000"}, {"voltage_min_design", "11550000"}});
    return battery(std::move(name), std::move(more));
}

TEST(DeviceBattery, ListsWhatTheKernelGives)
{
    const Supply charging = energy("BAT0", "Charging",
        {{"power_now", "15000000"}, {"voltage_now", "12600000"}, {"temp", "312"}, {"cycle_count", "87"},
         {"model_name", "5B10"}, {"manufacturer", "SMP"}, {"serial_number", "42"}, {"energy_full_design", "56000000"}});
    const Supply discharging = energy("BAT1", "Discharging", {{"power_now", "-10000000"}});
    const Supply charge = battery("BAT2", {{"status", "Discharging"}, {"charge_now", "2000000"},
                                           {"charge_full", "4000000"}, {"current_now", "1000000"},
                                           {"charge_full_design", "5000000"}});
    const Supply energy_mwh = battery("BAT4", {{"status", "Full"}, {"energy_now", "30000000"},
                                               {"energy_full", "50000000"}, {"energy_full_design", "56000000"}});
    auto charge_of = [](const char* now, const char* full) {
        return battery("B", {{"status", "Full"}, {"charge_now", now}, {"charge_full", full}});
    };
    auto usb_c = [](std::vector<std::pair<std::string, std::string>> attributes) {
        attributes.insert(attributes.begin(), {{"type", "USB"}, {"online", "1"}});
        return Supply{"ucsi", std::move(attributes)};
    };
    const struct {
        const char* what;
        std::vector<Supply> supplies;
        std::string_view key;
        std::optional<std::string> expected;
    } cases[] = {
        {"design missing on one battery", {charge, energy("BAT3", "Full")}, "DesignCapacity", std::nullopt},
        {"design of one", {charge}, "DesignCapacity", "5000"},
        {"a design of 0 is none", {battery("B", {{"charge_now", "1"}, {"charge_full", "2"}, {"charge_full_design", "0"}})},
         "DesignCapacity", std::nullopt},
        {"raw mAh from energy", {charging}, "AppleRawCurrentCapacity", "2597"},
        {"raw mAh of full", {charging}, "AppleRawMaxCapacity", "4329"},
        {"raw mAh of charge", {charge}, "AppleRawMaxCapacity", "4000"},
        {"raw mAh needs the design voltage", {battery("B", {{"energy_now", "1"}, {"energy_full", "2"}})},
         "AppleRawCurrentCapacity", std::nullopt},
        {"no raw mAh for a capacity", {battery("B", {{"capacity", "50"}})}, "AppleRawCurrentCapacity",
         std::nullopt},
        {"voltage", {charging}, "Voltage", "12600"},
        {"no voltage for two", {charging, energy("BAT9", "Full", {{"voltage_now", "1000"}})}, "Voltage",
         std::nullopt},
        {"amperage from power and voltage", {charging}, "Amperage", "1190"},
        {"instant amperage the same", {charging}, "InstantAmperage", "1190"},
        {"discharging current is negative", {charge}, "Amperage", "18446744073709550616"},
        {"neither direction is 0", {battery("B", {{"capacity", "50"}, {"status", "Full"}, {"current_now", "5"}})},
         "Amperage", "0"},
        {"no current, no amperage", {discharging}, "Amperage", std::nullopt},
        {"a current signed negative while discharging", {battery("B", {{"status", "Discharging"}, {"charge_now", "2000000"},
                                                                     {"charge_full", "4000000"}, {"current_now", "-1000000"}})},
         "Amperage", "18446744073709550616"},
        {"and its minutes", {battery("B", {{"status", "Discharging"}, {"charge_now", "2000000"},
                                           {"charge_full", "4000000"}, {"current_now", "-1000000"}})},
         "TimeRemaining", "120"},
        {"a current signed negative while charging", {battery("B", {{"status", "Charging"}, {"charge_now", "2000000"},
                                                                  {"charge_full", "4000000"}, {"current_now", "-1000000"}})},
         "Amperage", "1000"},
        {"a current of 0", {battery("B", {{"status", "Discharging"}, {"capacity", "5"}, {"current_now", "0"}})},
         "Amperage", "0"},
        {"not charging: 0", {battery("B", {{"status", "Not charging"}, {"capacity", "5"}, {"current_now", "5000"}})},
         "Amperage", "0"},
        {"not charging: no estimate", {energy("B", "Not charging", {{"power_now", "5000000"}})}, "TimeRemaining",
         "65535"},
        {"status Unknown: no amperage", {energy("B", "Unknown", {{"current_now", "5000000"}})}, "Amperage",
         std::nullopt},
        {"no status: no amperage", {battery("B", {{"capacity", "5"}, {"current_now", "5000000"}})}, "InstantAmperage",
         std::nullopt},
        {"no status: no estimate", {battery("B", {{"charge_now", "1"}, {"charge_full", "2"}, {"current_now", "5"}})},
         "TimeRemaining", "65535"},
        {"one status unknown: no amperage for two", {charge, energy("B", "Unknown", {{"current_now", "5"}})},
         "Amperage", std::nullopt},
        {"one status unknown: no estimate for two", {discharging, energy("B", "Unknown", {{"power_now", "5000000"}})},
         "TimeRemaining", "65535"},
        {"voltage 0", {energy("B", "Full", {{"voltage_now", "0"}})}, "Voltage", "0"},
        {"cycles 0", {energy("B", "Full", {{"cycle_count", "0"}})}, "CycleCount", "0"},
        {"no cycles for two", {charging, energy("B", "Full", {{"cycle_count", "5"}})}, "CycleCount", std::nullopt},
        {"mixed families, no amperage", {charge, battery("B", {{"capacity", "5"}, {"current_now", "5"}})},
         "Amperage", std::nullopt},
        {"temperature in hundredths", {charging}, "Temperature", "3120"},
        {"below freezing", {energy("B", "Full", {{"temp", "-52"}})}, "Temperature", "18446744073709551096"},
        {"cycles", {charging}, "CycleCount", "87"},
        {"minutes to full", {charging}, "TimeRemaining", "80"},
        {"average to full", {charging}, "AvgTimeToFull", "80"},
        {"no average to empty while charging", {charging}, "AvgTimeToEmpty", "65535"},
        {"minutes to empty from charge", {charge}, "AvgTimeToEmpty", "120"},
        {"no average to full while discharging", {charge}, "AvgTimeToFull", "65535"},
        {"two batteries: summed now over summed rate", {discharging, energy("BAT2", "Discharging",
                                                                            {{"power_now", "20000000"}})},
         "TimeRemaining", "120"},
        {"rates of two families: no estimate", {discharging, charge}, "TimeRemaining", "65535"},
        {"a rate missing: no estimate", {discharging, energy("BAT2", "Discharging")}, "TimeRemaining",
         "65535"},
        {"status Full: no estimate", {energy("B", "Full", {{"power_now", "5"}})}, "TimeRemaining", "65535"},
        {"a capacity reading: no estimate", {battery("B", {{"capacity", "50"}, {"status", "Discharging"},
                                                           {"current_now", "5"}})},
         "TimeRemaining", "65535"},
        {"charging", {charging, discharging}, "IsCharging", "Yes"},
        {"not fully charged while one charges", {charging, energy("B", "Full")}, "FullyCharged", "No"},
        {"fully charged", {energy("A", "Full"), energy("B", "Full")}, "FullyCharged", "Yes"},
        {"held below full is not fully charged", {energy("B", "Not charging")}, "FullyCharged", "No"},
        {"full is not charging", {energy("A", "Full"), energy("B", "Full")}, "IsCharging", "No"},
        {"an adapter online before one that is not", {AC_ON, {"AC2", {{"type", "Mains"}}}, charge},
         "ExternalConnected", "Yes"},
        {"no adapter online", {AC_OFF, charge}, "ExternalConnected", "No"},
        {"installed", {charge}, "BatteryInstalled", "Yes"},
        {"model name", {charging}, "DeviceName", "\"5B10\""},
        {"manufacturer", {charging}, "Manufacturer", "\"SMP\""},
        {"serial number", {charging}, "BatterySerialNumber", "\"42\""},
        {"no names for two", {charging, charge}, "DeviceName", std::nullopt},
        {"a peripheral's percent is never the device's", {battery("M", {{"scope", "Device"}, {"capacity", "5"}}),
                                                        charge},
         "BatteryPercent", std::nullopt},
        // Capacities in mAh wherever they convert; energy without its design voltage in mWh.
        {"energy in mAh", {charging}, "CurrentCapacity", "2597"},
        {"full energy in mAh", {charging}, "MaxCapacity", "4329"},
        {"design energy in mAh", {charging}, "DesignCapacity", "4848"},
        {"nominal charge", {charging}, "NominalChargeCapacity", "4329"},
        {"energy without its design voltage", {energy_mwh}, "MaxCapacity", "50000"},
        {"its design too", {energy_mwh}, "DesignCapacity", "56000"},
        {"no nominal charge in mWh", {energy_mwh}, "NominalChargeCapacity", std::nullopt},
        {"charge and energy sum in mAh", {charge, charging}, "MaxCapacity", "8329"},
        {"energy with and without sums in mWh", {charging, energy_mwh}, "CurrentCapacity", "60000"},
        // Flags: 1 on external power, 2 charging, 4 installed.
        {"charging on mains", {AC_ON, charging}, "LegacyBatteryInfo",
         "{\"Amperage\"=1190,\"Flags\"=7,\"Capacity\"=4329,\"Current\"=2597,\"Voltage\"=12600,\"Cycle Count\"=87}"},
        {"full on mains", {AC_ON, energy("B", "Full")}, "LegacyBatteryInfo",
         "{\"Flags\"=5,\"Capacity\"=4329,\"Current\"=2597}"},
        {"on battery", {AC_OFF, charge}, "LegacyBatteryInfo",
         "{\"Amperage\"=18446744073709550616,\"Flags\"=4,\"Capacity\"=4000,\"Current\"=2000}"},
        {"battery data", {charging}, "BatteryData",
         "{\"StateOfCharge\"=60,\"DesignCapacity\"=4848,\"CycleCount\"=87,\"Voltage\"=12600}"},
        {"no design in mWh there", {energy_mwh}, "BatteryData", "{\"StateOfCharge\"=60}"},
        {"state of charge rounds as powmeter does", {charge_of("2000", "3000")}, "BatteryData", "{\"StateOfCharge\"=67}"},
        {"down from 99.4", {charge_of("994000", "1000000")}, "BatteryData", "{\"StateOfCharge\"=99}"},
        {"up from 99.5", {charge_of("995000", "1000000")}, "BatteryData", "{\"StateOfCharge\"=100}"},
        {"healthy", {energy("B", "Full", {{"health", "Good"}})}, "PermanentFailureStatus", "0"},
        {"health unknown", {energy("B", "Full", {{"health", "unknown"}})}, "PermanentFailureStatus", "0"},
        {"no health", {energy("B", "Full")}, "PermanentFailureStatus", "0"},
        {"dead", {energy("B", "Full", {{"health", "Dead"}})}, "PermanentFailureStatus", "1"},
        {"one of two overheated", {energy("A", "Full", {{"health", "Good"}}), energy("B", "Full", {{"health", "Overheat"}})},
         "PermanentFailureStatus", "1"},
        {"minutes to empty now", {charge}, "InstantTimeToEmpty", "120"},
        {"from the average current", {battery("B", {{"status", "Discharging"}, {"charge_now", "2000000"},
                                                    {"charge_full", "4000000"}, {"current_avg", "1000000"}})},
         "TimeRemaining", "120"},
        {"both ways at once: no estimate", {charging, discharging}, "TimeRemaining", "65535"},
        {"no raw mAh in the kernel's µAh", {battery("B", {{"charge_now", "5500"}, {"charge_full", "9000"}})},
         "AppleRawCurrentCapacity", std::nullopt},
        {"none while charging", {charging}, "InstantTimeToEmpty", "65535"},
        {"a charger's most power", {usb_c({{"voltage_max", "20000000"}, {"current_max", "3250000"}, {"model_name", "LA-65W"}}), charge},
         "AdapterDetails", "{\"Watts\"=65,\"Name\"=\"LA-65W\"}"},
        {"the power it says, rounded", {usb_c({{"power_now", "19500000"}}), charge}, "AdapterDetails", "{\"Watts\"=20}"},
        {"rounded down", {usb_c({{"power_now", "19499999"}}), charge}, "AdapterDetails", "{\"Watts\"=19}"},
        {"no power said", {usb_c({}), charge}, "AdapterDetails", std::nullopt},
        {"an adapter offline", {usb_c({{"online", "0"}, {"power_now", "5000000"}}), charge}, "AdapterDetails", std::nullopt},
        {"an unreadable health", {energy("B", "Full", {{"health", UNREADABLE}})}, "PermanentFailureStatus", std::nullopt},
        {"unreadable beside dead", {energy("A", "Full", {{"health", "Dead"}}), energy("B", "Full", {{"health", UNREADABLE}})},
         "PermanentFailureStatus", "1"},
        {"an unreadable status fails", {energy("B", UNREADABLE)}, "IsCharging", "failure"},
        {"so does an energy battery's unreadable design voltage",
         {battery("B", {{"energy_now", "1"}, {"energy_full", "2"}, {"voltage_min_design", UNREADABLE}})}, "MaxCapacity",
         "failure"},
        {"not a charge battery's", {battery("B", {{"charge_now", "1000"}, {"charge_full", "2000"}, {"voltage_min_design", UNREADABLE}})},
         "MaxCapacity", "2"},
        {"the largest readings over the lowest design voltage",
         {battery("A", {{"energy_now", "2147483647"}, {"energy_full", "2147483647"}, {"voltage_min_design", "100000"}}),
          battery("B", {{"energy_now", "2147483647"}, {"energy_full", "2147483647"}, {"voltage_min_design", "100000"}})},
         "MaxCapacity", "42949673"},
        {"a design voltage below a tenth of a volt is none", {battery("B", {{"energy_now", "2000000"}, {"energy_full", "2000000"},
                                                                            {"voltage_min_design", "99999"}})},
         "MaxCapacity", "2000"},
        {"texts are cut to 128 bytes", {energy("B", "Full", {{"model_name", std::string(200, 'm')}})}, "DeviceName",
         "\"" + std::string(128, 'm') + "\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(listed(c.supplies, c.key), c.expected);
    }
}

TEST(DeviceBattery, ListsKeysInThePlatformsOrder)
{
    const auto listed = list({AC_ON, energy("BAT0", "Discharging",
                                            {{"power_now", "9000000"}, {"voltage_now", "12000000"}, {"temp", "300"},
                                             {"cycle_count", "5"}, {"health", "Good"}, {"energy_full_design", "6"},
                                             {"model_name", "M"}, {"manufacturer", "F"}, {"serial_number", "S"}}),
                              {"USB", {{"type", "USB"}, {"online", "1"}, {"power_now", "5000000"}}}});
    const RegistryObject* battery = listed->find("AppleSmartBattery");
    std::string keys;
    for (std::size_t i = 0; i < battery->property_count; ++i)
        keys += std::string(battery->properties[i].key) + " ";
    EXPECT_EQ(keys, "ExternalConnected TimeRemaining InstantTimeToEmpty Voltage MaxCapacity PermanentFailureStatus "
                    "Manufacturer CurrentCapacity LegacyBatteryInfo BatteryInstalled CycleCount DesignCapacity "
                    "AvgTimeToFull BatterySerialNumber Serial Temperature InstantAmperage FullyCharged DeviceName Amperage "
                    "IsCharging AvgTimeToEmpty AppleRawCurrentCapacity AppleRawMaxCapacity NominalChargeCapacity "
                    "AdapterDetails BatteryData ");
}

// The objects below `parent`, each as "name: key=value ...", a line each.
std::string objects_below(const std::vector<Supply>& supplies, std::string_view parent)
{
    const auto listed = list(supplies);
    const RegistryObject* group = listed->find(parent);
    std::string shown;
    for (std::size_t i = 0; i < group->child_count; ++i) {
        const RegistryObject& object = group->children[i];
        shown += std::string(object.name) + ":";
        for (std::size_t p = 0; p < object.property_count; ++p)
            shown += " " + std::string(object.properties[p].key) + "=" + value_text(object.properties[p].value, false);
        shown += "\n";
    }
    return shown;
}

TEST(PowerSources, ReadsEntriesInNameOrder)
{
    // Made last to first; no folder keeps twenty names in byte order by chance.
    std::vector<Supply> mice;
    std::string products;
    for (int i = 19; i >= 0; --i) {
        const std::string name = "m" + std::to_string(10 + i);
        mice.push_back(battery(name, {{"scope", "Device"}, {"model_name", name}}));
        products = "AppleDeviceManagementHIDEventService: Product=\"" + name + "\"\n" + products;
    }
    EXPECT_EQ(objects_below(mice, "input"), products);
}

TEST(PowerSources, ListsAdaptersAndPeripherals)
{
    const std::vector<Supply> supplies = {
        {"usbc", {{"type", "USB_PD"}, {"online", "2"}}},
        {"pad", {{"type", "Wireless"}, {"online", "1"}}},
        battery("mouse", {{"scope", "Device"}, {"capacity", "60"}, {"model_name", "MX"}}),
        battery("kbd", {{"scope", "Device"}, {"present", "0"}, {"capacity", "10"}}),
        battery("BAT0", {{"capacity", "80"}}),
        {"AC", {{"type", "Mains"}, {"online", "0"}}},
        {"mouse-usb", {{"type", "USB"}, {"scope", "Device"}, {"online", "1"}}},
    };
    // A wireless pad powers no device, a mouse's own USB supply is the mouse's, and an
    // absent keyboard has no battery to list.
    EXPECT_EQ(objects_below(supplies, "adapters"), "Mains: Online=No Type=\"Mains\"\nUSB: Online=Yes Type=\"USB\"\n");
    EXPECT_EQ(objects_below(supplies, "input"), "AppleDeviceManagementHIDEventService: Product=\"MX\" BatteryPercent=60\n");
}

TEST(PowerSources, NamesPeripheralsByKind)
{
    // HID report descriptors: the first collection's usage page and usage.
    const std::string mouse("\x05\x01\x09\x02\xa1\x01\x09\x01\xa1\x00\xc0\xc0", 12);
    const std::string keyboard("\x05\x01\x09\x06\xa1\x01\xc0", 7);
    const std::string touch_pad("\x05\x0d\x09\x05\xa1\x01\xc0", 7);
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> attributes;
        const char* expected;
    } cases[] = {
        {"a mouse's descriptor", {{"device/report_descriptor", mouse}, {"model_name", "Magic Keyboard"}}, "BNBMouseDevice"},
        {"a keyboard's", {{"device/report_descriptor", keyboard}}, "AppleBluetoothHIDKeyboard"},
        {"a touch pad's", {{"device/report_descriptor", touch_pad}}, "BNBTrackpadDevice"},
        {"an extended usage", {{"device/report_descriptor", std::string("\x0b\x02\x00\x01\x00\xa1\x01", 7)}},
         "BNBMouseDevice"},
        {"a wide usage page", {{"device/report_descriptor", std::string("\x06\x01\x00\x09\x06\xa1\x01", 7)}},
         "AppleBluetoothHIDKeyboard"},
        {"usages after the first collection do not count",
         {{"device/report_descriptor", std::string("\x05\x01\x09\x05\xa1\x01\x09\x02\xc0", 9)}},
         "AppleDeviceManagementHIDEventService"},
        {"a descriptor cut short", {{"device/report_descriptor", std::string("\x05\x01\x0a\x02", 4)}},
         "AppleDeviceManagementHIDEventService"},
        {"a gamepad, by its descriptor or its name", {{"device/report_descriptor", "\x05\x01\x09\x05\xa1\x01"},
                                                      {"model_name", "Wireless Controller"}},
         "AppleDeviceManagementHIDEventService"},
        {"a mouse by name", {{"model_name", "Magic MOUSE 2"}}, "BNBMouseDevice"},
        {"a trackpad by name", {{"model_name", "Magic Trackpad"}}, "BNBTrackpadDevice"},
        {"a touchpad by name", {{"model_name", "T650 Touchpad"}}, "BNBTrackpadDevice"},
        {"a keyboard by name", {{"model_name", "Magic Keyboard"}}, "AppleBluetoothHIDKeyboard"},
        {"no name", {}, "AppleDeviceManagementHIDEventService"},
    };
    for (const auto& c : cases) {
        auto attributes = c.attributes;
        attributes.emplace_back("scope", "Device");
        const std::string shown = objects_below({battery("p", attributes)}, "input");
        EXPECT_EQ(shown.substr(0, shown.find(':')), c.expected) << c.what;
    }
}

TEST(PowerSources, ListsABluetoothAddress)
{
    // The HID drivers name a Bluetooth device's battery by its address, a USB one's by bus ids.
    const struct {
        const char* entry;
        const char* expected;
    } cases[] = {
        {"hid-dc:2c:26:0a:1f:3b-battery", " DeviceAddress=\"dc-2c-26-0a-1f-3b\""},
        {"hidpp_battery_0", ""},
        {"ps-controller-battery-A0:AB:51:0C:1F:3B", " DeviceAddress=\"a0-ab-51-0c-1f-3b\""},
        {"hid-0003:046D:C52B.0001-battery", ""},
        {"hid-00:dc:2c:26:0a:1f:3b-battery", ""},
        {"hid-dc:2c:26:0a:1f:3b4-battery", ""},
        // Each bound of the hex digits, inside and just outside.
        {"hid-09:af:AF:0a:1f:3b-battery", " DeviceAddress=\"09-af-af-0a-1f-3b\""},
        {"hid-gc:2c:26:0a:1f:3b-battery", ""},
        {"hid-dc:2c:26:0a:1f:3`-battery", ""},
        {"hid-dc:2c:26:0a:1f:3G-battery", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(objects_below({battery(c.entry, {{"scope", "Device"}, {"capacity", "5"}})}, "input"),
                  std::string("AppleDeviceManagementHIDEventService: BatteryPercent=5") + c.expected + "\n")
            << c.entry;
    }
}

TEST(PowerSources, NamesTheMachine)
{
    const struct {
        std::vector<std::pair<std::string, std::string>> dmi;
        std::string expected;
    } cases[] = {
        {{{"product_name", "Latitude 7420\n"}}, "Latitude 7420"},
        {{{"product_family", "ThinkPad"}}, "Linux"},
        {{{"product_name", UNREADABLE}}, "Linux"},
        {{{"product_name", "a \"Capacity\" = 1\\\rx"}}, "a 'Capacity' = 1/?x"},
        {{{"product_name", std::string(200, 'x')}}, std::string(128, 'x')},
    };
    for (const auto& c : cases) {
        const auto listed = list({battery("BAT0", {{"capacity", "1"}}), {"../dmi/id", c.dmi}});
        EXPECT_EQ(listed->tree.root().children[0].name, c.expected);
    }
}

TEST(PowerSources, KeepsTheCapacitiesInPowmetersView)
{
    // Kernel texts as long as a page, full of the word that powmeter's pipeline keeps.
    const std::string text(4096, 'C');
    const std::string words = std::string("Capacity \"CurrentCapacity\" = 1 ") + text;
    std::vector<Supply> supplies = {{"../dmi/id", {{"product_name", words}}},
                                    energy("BAT0", "Full", {{"manufacturer", words}, {"model_name", words}})};
    for (int i = 0; i < 30; ++i)
        supplies.push_back(battery("m" + std::to_string(i), {{"scope", "Device"}, {"model_name", words}}));
    const auto listed = list(supplies);
    ListingOptions options;
    options.all_properties = true;
    char* printed = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&printed, &size);
    print_listing(out, choose_listing(listed->tree.root(), options), options);
    std::fclose(out);
    // ioreg -l | grep Capacity | tr '\n' ' ', cut to what powmeter reads.
    std::string kept;
    std::istringstream lines(std::string(printed, size));
    std::free(printed);
    for (std::string line; std::getline(lines, line);)
        if (line.find("Capacity") != std::string::npos)
            kept += line + " ";
    kept.resize(std::min<std::size_t>(kept.size(), 5119));
    EXPECT_NE(kept.find("\"CurrentCapacity\" = 2597"), std::string::npos);
    EXPECT_NE(kept.find("\"MaxCapacity\" = 4329"), std::string::npos);
}

TEST(PowerSources, NamesTheFirstThatFailed)
{
    const SysfsTree folder({battery("BAT0", {{"scope", UNREADABLE}, {"present", UNREADABLE}, {"capacity", "80"}})});
    auto sources = std::make_unique<PowerSources>();
    read_power_sources(folder.root(), *sources);
    ASSERT_TRUE(sources->failure);
    EXPECT_EQ(std::string(sources->failure->path.data()), folder.root() + "/class/power_supply/BAT0/scope");
    EXPECT_EQ(sources->failure->error, ELOOP);
}

TEST(PowerSources, MissingFolderIsNoSource)
{
    auto sources = std::make_unique<PowerSources>();
    read_power_sources("/nonexistent/powmeter/sysfs", *sources);
    EXPECT_FALSE(sources->class_found);
    EXPECT_FALSE(sources->failure);
    EXPECT_EQ(sources->battery_count + sources->adapter_count, 0U);
}

TEST(PowerSources, HoldsTheMostItsListsHold)
{
    std::vector<Supply> supplies;
    for (std::size_t i = 0; i < MOST_BATTERIES; ++i)
        supplies.push_back(battery("BAT" + std::to_string(10 + i), {{"capacity", "50"}}));
    EXPECT_EQ(capacities(supplies), Pair(50 * MOST_BATTERIES, 100 * MOST_BATTERIES));
    supplies.push_back(battery("BAT99", {{"capacity", "50"}}));
    const SysfsTree folder(supplies);
    auto sources = std::make_unique<PowerSources>();
    read_power_sources(folder.root(), *sources);
    ASSERT_TRUE(sources->failure);
    EXPECT_EQ(sources->failure->error, ENOBUFS);
    EXPECT_EQ(std::string(sources->failure->path.data()), folder.root() + "/class/power_supply");
    // Entries that are no source count towards the folder's most, 128, all the same.
    std::vector<Supply> chargers;
    for (int i = 0; i < 128; ++i)
        chargers.push_back({"w" + std::to_string(100 + i), {{"type", "Wireless"}}});
    for (const bool over : {false, true}) {
        if (over)
            chargers.push_back({"w999", {{"type", "Wireless"}}});
        const SysfsTree pads(chargers);
        *sources = PowerSources{};
        read_power_sources(pads.root(), *sources);
        EXPECT_EQ(sources->failure.has_value(), over);
    }
}

TEST(PowerSources, ClosesEveryFile)
{
    // Batteries enough for more reads than open files allowed, read more times than that.
    std::vector<Supply> many;
    for (std::size_t i = 0; i < MOST_BATTERIES; ++i)
        many.push_back(battery("BAT" + std::to_string(10 + i), {{"capacity", "50"}, {"status", "Full"}, {"temp", "1"},
                                                              {"cycle_count", "1"}, {"voltage_now", "1"}}));
    const SysfsTree tree(many);
    auto sources = std::make_unique<PowerSources>();
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit low = before;
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::size_t fewest = many.size();
    for (int run = 0; run < 70; ++run) {
        *sources = PowerSources{};
        read_power_sources(tree.root(), *sources);
        fewest = std::min(fewest, sources->failure ? 0 : sources->battery_count);
    }
    setrlimit(RLIMIT_NOFILE, &before);
    EXPECT_EQ(fewest, many.size());
}

}  // namespace
