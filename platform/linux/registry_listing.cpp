#include "power_supply.h"

#include <cinttypes>

namespace {

const char* yes_no(bool value)
{
    return value ? "Yes" : "No";
}

}  // namespace

void print_registry_listing(std::FILE* out, const PowerSources& sources)
{
    constexpr const char* state = "registered, matched, active, busy 0 (0 ms), retain 4";
    std::fprintf(out, "+-o Root  <class IORegistryEntry, retain 4>\n");
    std::fprintf(out, "  +-o power_supply  <class LinuxPowerSupplyClass, %s>\n", state);

    bool external_connected = false;
    for (std::size_t i = 0; i < sources.adapters.size(); ++i) {
        const PowerAdapter& adapter = sources.adapters[i];
        external_connected = external_connected || adapter.online;
        // A bar runs down beside the properties while a later sibling is still to come.
        const char* bar = i + 1 < sources.adapters.size() || sources.battery ? "|" : " ";
        std::fprintf(out, "    +-o %s  <class LinuxPowerAdapter, %s>\n",
                     adapter.usb ? "USB" : "Mains", state);
        std::fprintf(out, "    %s {\n", bar);
        std::fprintf(out, "    %s   \"Online\" = %s\n", bar, yes_no(adapter.online));
        std::fprintf(out, "    %s   \"Type\" = \"%s\"\n", bar, adapter.usb ? "USB" : "Mains");
        std::fprintf(out, "    %s }\n", bar);
        std::fprintf(out, "    %s \n", bar);
    }
    if (!sources.battery)
        return;

    const DeviceBattery& b = *sources.battery;
    std::fprintf(out, "    +-o LinuxBattery  <class LinuxBattery, %s>\n", state);
    std::fprintf(out, "      {\n");
    std::fprintf(out, "        \"CurrentCapacity\" = %" PRId64 "\n", b.current_capacity);
    if (b.cycle_count)
        std::fprintf(out, "        \"CycleCount\" = %" PRId64 "\n", *b.cycle_count);
    if (b.design_capacity)
        std::fprintf(out, "        \"DesignCapacity\" = %" PRId64 "\n", *b.design_capacity);
    std::fprintf(out, "        \"ExternalConnected\" = %s\n", yes_no(external_connected));
    std::fprintf(out, "        \"FullyCharged\" = %s\n", yes_no(b.fully_charged));
    std::fprintf(out, "        \"IsCharging\" = %s\n", yes_no(b.is_charging));
    std::fprintf(out, "        \"MaxCapacity\" = %" PRId64 "\n", b.max_capacity);
    if (b.voltage)
        std::fprintf(out, "        \"Voltage\" = %" PRId64 "\n", *b.voltage);
    std::fprintf(out, "      }\n");
    std::fprintf(out, "      \n");
}
