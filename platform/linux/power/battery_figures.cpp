#include "battery_figures.h"

#include <algorithm>
#include <array>
#include <limits>

namespace {

// The device's batteries, as the sources hold them.
struct Readings {
    const BatteryReading* first;
    std::size_t count;

    const BatteryReading* begin() const { return first; }
    const BatteryReading* end() const { return first + count; }
};

// Sums `part` of every reading; nothing when one is missing or a sum would not fit.
template <typename Part>
std::optional<std::int64_t> sum(const Readings& readings, Part part)
{
    std::int64_t total = 0;
    for (const BatteryReading& r : readings) {
        const std::optional<std::int64_t> value = part(r);
        if (!value || __builtin_add_overflow(total, *value, &total))
            return std::nullopt;
    }
    return total;
}

bool all_of(const Readings& readings, bool (*test)(const BatteryReading&))
{
    return std::all_of(readings.begin(), readings.end(), test);
}

// A sum of products of two 64-bit numbers, held in 128 bits: a voltage weighed by an energy
// passes 64 bits, and 32-bit targets have no wider integer type.
class WideSum {
public:
    void add_product(std::uint64_t a, std::uint64_t b)
    {
        constexpr std::uint64_t LOW = 0xffff'ffff;
        const std::uint64_t low_low = (a & LOW) * (b & LOW);
        const std::uint64_t low_high = (a & LOW) * (b >> 32U);
        const std::uint64_t high_low = (a >> 32U) * (b & LOW);
        const std::uint64_t middle = (low_low >> 32U) + (low_high & LOW) + (high_low & LOW);
        const std::uint64_t low = (middle << 32U) | (low_low & LOW);
        high_ += (a >> 32U) * (b >> 32U) + (low_high >> 32U) + (high_low >> 32U) + (middle >> 32U);
        low_ += low;
        high_ += low_ < low ? 1 : 0;
    }

    // The sum over `divisor`, rounded down, one bit at a time.
    std::optional<std::uint64_t> divided_by(std::uint64_t divisor) const
    {
        if (divisor == 0 || high_ >= divisor)
            return std::nullopt;
        if (high_ == 0)
            return low_ / divisor;
        std::uint64_t remainder = high_;
        std::uint64_t quotient = 0;
        for (unsigned bit = 64; bit-- > 0;) {
            const bool carry = (remainder >> 63U) != 0;
            remainder = remainder << 1U | ((low_ >> bit) & 1U);
            quotient <<= 1U;
            if (carry || remainder >= divisor) {
                remainder -= divisor;
                quotient |= 1U;
            }
        }
        return quotient;
    }

private:
    std::uint64_t high_ = 0;
    std::uint64_t low_ = 0;
};

std::optional<std::int64_t> to_signed(std::optional<std::uint64_t> value)
{
    if (!value || *value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return std::nullopt;
    return static_cast<std::int64_t>(*value);
}

// a × b / c to the nearest whole number, halves up: as a figure in whole units is read.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the factors, then the divisor, as written.
std::optional<std::int64_t> nearest(std::int64_t a, std::uint64_t b, std::uint64_t c)
{
    WideSum product;
    product.add_product(static_cast<std::uint64_t>(a), b);
    product.add_product(c / 2, 1);
    return to_signed(product.divided_by(c));
}

// A figure in the kernel's units scaled to the units listed: times `multiplier`, over
// `divisor`, to the nearest whole unit.
struct Scale {
    Units units;
    std::uint64_t multiplier;
    std::uint64_t divisor;

    std::optional<std::int64_t> operator()(std::int64_t value) const { return nearest(value, multiplier, divisor); }
};

// The batteries' sums in one basis that adds up (µWh, µAh or percent: `family` says which
// of the three), and how to list them.
struct Basis {
    std::int64_t now = 0;
    std::int64_t full = 0;
    Family family = Family::capacity;
    Scale scale{Units::kernel, 1, 1};
};

// The batteries' full and design figures summed in one basis: µWh or µAh as read where every
// battery's come from one family, else µAh.
struct WearSums {
    Family family;
    std::int64_t full;
    std::int64_t design;
};

// A battery's own percentage, rounded half up, for batteries of different families together.
std::int64_t percent_rounded(const BatteryReading& r)
{
    return (r.now * 200 + r.full) / (r.full * 2);
}

bool has_design_voltage(const BatteryReading& r)
{
    return r.voltage_min_design.has_value();
}

// One voltage for all of the batteries that read energy: the mean of their design minimum
// voltages, each weighed by its full energy. mAh of packs at different voltages are not the
// same amount of energy, so the sums are converted over this one voltage, never each battery
// over its own; for one battery, or packs of one voltage, it is exactly theirs.
std::optional<std::uint64_t> common_voltage(const Readings& readings, std::int64_t full)
{
    WideSum weighed;
    for (const BatteryReading& r : readings) {
        if (!r.voltage_min_design)
            return std::nullopt;
        weighed.add_product(static_cast<std::uint64_t>(r.full), static_cast<std::uint64_t>(*r.voltage_min_design));
    }
    const std::optional<std::uint64_t> voltage = weighed.divided_by(static_cast<std::uint64_t>(full));
    return voltage && *voltage > 0 ? voltage : std::nullopt;
}

// A charge or energy figure of `family` in µAh: an energy over the battery's design voltage,
// to the nearest µAh; nothing for a capacity, or an energy without that voltage.
std::optional<std::int64_t> charge_uah(const BatteryReading& r, Family family, std::int64_t value)
{
    if (family == Family::charge)
        return value;
    if (family != Family::energy || !r.voltage_min_design)
        return std::nullopt;
    return nearest(value, 1'000'000, static_cast<std::uint64_t>(*r.voltage_min_design));
}

// The batteries' wear in one basis; nothing unless every battery has its full and design
// figures, and those of different families all convert to µAh.
std::optional<WearSums> wear_of(const Readings& readings)
{
    const std::optional<BatteryReading::Wear>& first = readings.first->wear;
    if (!first)
        return std::nullopt;
    const bool one_family = std::all_of(readings.begin(), readings.end(), [&](const BatteryReading& r) {
        return r.wear && r.wear->family == first->family;
    });
    WearSums sums{one_family ? first->family : Family::charge, 0, 0};
    for (const BatteryReading& r : readings) {
        if (!r.wear)
            return std::nullopt;
        const BatteryReading::Wear& wear = *r.wear;
        const std::optional<std::int64_t> full = one_family ? wear.full : charge_uah(r, wear.family, wear.full);
        const std::optional<std::int64_t> design = one_family ? wear.design : charge_uah(r, wear.family, wear.design);
        if (!full || !design || __builtin_add_overflow(sums.full, *full, &sums.full) ||
            __builtin_add_overflow(sums.design, *design, &sums.design))
            return std::nullopt;
    }
    return sums;
}

// Batteries of one family add up as they are. Batteries of different families add up in
// µAh when each is charge or energy over its design voltage, else as percentages.
std::optional<Basis> basis_of(const Readings& readings, bool one_family)
{
    const Family family = readings.first->family;
    Basis basis;
    std::optional<std::int64_t> now;
    std::optional<std::int64_t> full;
    if (one_family) {
        now = sum(readings, [](const BatteryReading& r) { return std::optional(r.now); });
        full = sum(readings, [](const BatteryReading& r) { return std::optional(r.full); });
        basis.family = family;
        if (family == Family::capacity)
            basis.scale = {Units::percent, 1, 1};
        else if (family == Family::charge)
            basis.scale = {Units::mah, 1, 1000};
        else if (!all_of(readings, has_design_voltage))
            basis.scale = {Units::mwh, 1, 1000};
        else if (const std::optional<std::uint64_t> voltage = full ? common_voltage(readings, *full) : std::nullopt)
            basis.scale = {Units::mah, 1000, *voltage};  // µWh / µV is Ah
    } else {
        now = sum(readings, [](const BatteryReading& r) { return charge_uah(r, r.family, r.now); });
        full = sum(readings, [](const BatteryReading& r) { return charge_uah(r, r.family, r.full); });
        basis.family = Family::charge;
        basis.scale = {Units::mah, 1, 1000};
    }
    if (!now || !full) {
        basis.family = Family::capacity;
        basis.scale = {Units::percent, 1, 1};
        now = sum(readings, [](const BatteryReading& r) { return std::optional(percent_rounded(r)); });
        full = sum(readings, [](const BatteryReading&) { return std::optional<std::int64_t>(100); });
    }
    if (!now || !full)
        return std::nullopt;
    basis.now = *now;
    basis.full = *full;
    return basis;
}

// The capacities as listed, whose level is `level`, with the design where it counts what the
// sums count. Rounding each to whole units may move a level that lies near a half, so the
// charge now is the first of the nearest, the proportional one and the one above it that
// keeps the level; where none does (a full of fewer than 100 units), the sums are listed in
// the kernel's own units.
Capacities listed_capacities(const Basis& basis, const std::optional<WearSums>& wear, std::int64_t level)
{
    const std::optional<std::int64_t> design =
        wear && wear->family == basis.family ? std::optional(wear->design) : std::nullopt;
    const Scale& scale = basis.scale;
    const std::optional<std::int64_t> full = scale(basis.full);
    const std::optional<std::int64_t> plain = scale(basis.now);
    if (full && plain && *full > 0) {
        const std::optional<std::int64_t> proportional = to_signed(multiply_divide(
            static_cast<std::uint64_t>(basis.now), static_cast<std::uint64_t>(*full),
            static_cast<std::uint64_t>(basis.full)));
        const std::array<std::optional<std::int64_t>, 3> candidates = {
            plain, proportional, proportional ? std::optional(*proportional + 1) : std::nullopt};
        const auto* const found = std::find_if(candidates.begin(), candidates.end(), [&](const auto& candidate) {
            return candidate && level_percent(*candidate, *full) == level;
        });
        const std::optional<std::int64_t> now = found != candidates.end() ? *found : std::nullopt;
        if (now)
            return {scale.units, *now, *full, design ? scale(*design) : std::nullopt};
    }
    return {Units::kernel, basis.now, basis.full, design};
}

// The direction of the device as a whole: batteries that go both ways at once have none,
// and one battery of unknown direction leaves the whole unknown.
Direction device_direction(const Readings& readings)
{
    auto going = [&](Direction d) {
        return std::any_of(readings.begin(), readings.end(),
                           [&](const BatteryReading& r) { return direction_of(r.status.view()) == d; });
    };
    if (going(Direction::unknown))
        return Direction::unknown;
    const bool charging = going(Direction::charging);
    if (charging == going(Direction::discharging))
        return Direction::neither;
    return charging ? Direction::charging : Direction::discharging;
}

// The rate that empties or fills a reading of its family: µW for µWh, µA for µAh.
std::optional<std::int64_t> rate_of(const BatteryReading& r)
{
    if (r.family == Family::energy)
        return r.power_now;
    if (r.family == Family::charge)
        return r.current_now;
    return std::nullopt;
}

// Whether any battery has failed for good; nothing when none has but one's health is unknown.
std::optional<bool> permanent_failure(const Readings& readings)
{
    if (std::any_of(readings.begin(), readings.end(), [](const BatteryReading& r) { return r.failed.value_or(false); }))
        return true;
    if (all_of(readings, [](const BatteryReading& r) { return r.failed.has_value(); }))
        return false;
    return std::nullopt;
}

}  // namespace

Direction direction_of(std::string_view status)
{
    if (status == "Charging")
        return Direction::charging;
    if (status == "Discharging")
        return Direction::discharging;
    if (status == "Full" || status == "Not charging")
        return Direction::neither;
    return Direction::unknown;
}

std::int64_t minutes_remaining(std::int64_t now, std::int64_t full, std::optional<std::int64_t> rate,
                               Direction direction)
{
    if (!rate || *rate <= 0 || (direction != Direction::discharging && direction != Direction::charging))
        return NO_ESTIMATE;
    const std::int64_t left = direction == Direction::discharging ? now : std::max<std::int64_t>(full - now, 0);
    std::int64_t scaled = 0;
    if (__builtin_mul_overflow(left, 60, &scaled))
        return NO_ESTIMATE;
    return std::min(scaled / *rate, NO_ESTIMATE);
}

std::optional<std::int64_t> amperage_ma(std::optional<std::int64_t> current_ua,
                                        std::optional<std::int64_t> power_uw,
                                        std::optional<std::int64_t> voltage_uv, Direction direction)
{
    std::int64_t magnitude = 0;
    if (current_ua)
        magnitude = *current_ua / 1000;
    else if (power_uw && voltage_uv && *voltage_uv > 0)
        magnitude = *power_uw * 1000 / *voltage_uv;  // µW / µV is A
    else
        return std::nullopt;
    if (direction == Direction::unknown)
        return std::nullopt;
    if (direction == Direction::neither)
        return 0;
    return direction == Direction::discharging ? -magnitude : magnitude;
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the factors, then the divisor, as written.
std::optional<std::uint64_t> multiply_divide(std::uint64_t a, std::uint64_t b, std::uint64_t c)
{
    WideSum product;
    product.add_product(a, b);
    return product.divided_by(c);
}

std::optional<std::int64_t> level_percent(std::int64_t now, std::int64_t full)
{
    if (full <= 0 || now < 0)
        return std::nullopt;
    const std::optional<std::int64_t> per_mille =
        to_signed(multiply_divide(static_cast<std::uint64_t>(now), 1000, static_cast<std::uint64_t>(full)));
    if (!per_mille)
        return std::nullopt;
    return (*per_mille + 5) / 10;
}

std::optional<BatteryFigures> battery_figures(const PowerSources& sources)
{
    if (sources.battery_count == 0)
        return std::nullopt;
    const Readings readings{sources.batteries.data(), sources.battery_count};
    const Family family = readings.first->family;
    const bool one_family = std::all_of(readings.begin(), readings.end(),
                                        [&](const BatteryReading& r) { return r.family == family; });
    const std::optional<Basis> basis = basis_of(readings, one_family);
    const std::optional<std::int64_t> level = basis ? level_percent(basis->now, basis->full) : std::nullopt;
    if (!level)
        return std::nullopt;
    BatteryFigures f;
    f.level = *level;
    const std::optional<WearSums> wear = wear_of(readings);
    f.capacities = listed_capacities(*basis, wear, *level);
    f.direction = device_direction(readings);
    f.single = readings.count == 1 ? readings.first : nullptr;
    if (f.single != nullptr) {
        if (f.single->voltage_now)
            f.voltage = *f.single->voltage_now / 1000;
        f.cycles = f.single->cycle_count;
    }
    if (one_family) {
        f.amperage = sum(readings, [](const BatteryReading& r) {
            return amperage_ma(r.current_now, r.power_now, r.voltage_now, direction_of(r.status.view()));
        });
        // In the kernel's own units, which the rates share.
        if (family != Family::capacity)
            f.minutes = minutes_remaining(basis->now, basis->full, sum(readings, rate_of), f.direction);
    }
    f.charging = std::any_of(readings.begin(), readings.end(),
                             [](const BatteryReading& r) { return r.status.view() == "Charging"; });
    f.full = all_of(readings, [](const BatteryReading& r) { return r.status.view() == "Full"; });
    f.trickle = std::any_of(readings.begin(), readings.end(), [](const BatteryReading& r) { return r.trickle; });
    f.external = external_connected(sources);
    f.failed = permanent_failure(readings);
    f.healthy = all_of(readings, [](const BatteryReading& r) { return r.healthy; });
    if (wear)
        f.maximum_capacity = level_percent(wear->full, wear->design);
    if (std::any_of(readings.begin(), readings.end(), [](const BatteryReading& r) { return r.below_warning.value_or(false); }))
        f.below_warning = true;
    else if (all_of(readings, [](const BatteryReading& r) { return r.below_warning.has_value(); }))
        f.below_warning = false;
    return f;
}

const PowerAdapter* charger(const PowerSources& sources)
{
    const PowerAdapter* const end = sources.adapters.data() + sources.adapter_count;
    const PowerAdapter* const found = std::find_if(sources.adapters.data(), end, [](const PowerAdapter& a) {
        return a.online.value_or(false) && a.power;
    });
    return found == end ? nullptr : found;
}

std::optional<std::int64_t> adapter_watts(const PowerAdapter& adapter)
{
    if (!adapter.power)
        return std::nullopt;
    return (*adapter.power + 500'000) / 1'000'000;
}

std::optional<bool> external_connected(const PowerSources& sources)
{
    const PowerAdapter* const first = sources.adapters.data();
    const PowerAdapter* const end = first + sources.adapter_count;
    if (std::any_of(first, end, [](const PowerAdapter& a) { return a.online.value_or(false); }))
        return true;
    if (std::all_of(first, end, [](const PowerAdapter& a) { return a.online.has_value(); }))
        return false;
    return std::nullopt;
}

PowerSource drawing_from(const PowerSources& sources)
{
    const BatteryReading* const ups_end = sources.upses.data() + sources.ups_count;
    const bool ups_discharging = std::any_of(sources.upses.data(), ups_end, [](const BatteryReading& r) {
        return direction_of(r.status.view()) == Direction::discharging;
    });
    if (external_connected(sources).value_or(false) || (sources.battery_count == 0 && !ups_discharging))
        return PowerSource::ac;
    return sources.battery_count > 0 ? PowerSource::battery : PowerSource::ups;
}
