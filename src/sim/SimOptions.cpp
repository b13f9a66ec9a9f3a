#include "sim/SimOptions.h"

#include "model/MProject.h"
#include "platform/ParseNumber.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>

namespace cardmill {

namespace {

constexpr std::array<std::string_view, 13> kValued { "--card", "--card-size", "--family", "--model",
    "--firmware", "--baud", "--write-ms", "--erase-ms", "--fault", "--log", "--record",
    "--interface-buffer", "--lose-every" };
constexpr std::array<std::string_view, 6> kFlags { "--no-card", "--write-protected",
    "--no-erase-command", "--pty", "--active-sensing", "--clock" };
// As often as instruments send Active Sensing: the MIDI standard's receivers give up after 300.
constexpr std::uint32_t kActiveSensingMs = 300;

constexpr std::uint64_t kLowestBaud = 300;
constexpr std::uint64_t kHighestBaud = 100000000;
constexpr std::uint64_t kLongestDelayMs = 60000;
constexpr std::uint64_t kLargestInterface = 65536;

bool Known(std::span<const std::string_view> names, std::string_view name)
{
    return std::ranges::find(names, name) != names.end();
}

std::string Quoted(const std::string& value)
{
    return "'" + value + "'";
}

/// Applies one option with its value; false with `error` set when the value is bad.
bool Apply(
    SimOptions& options, const std::string& name, const std::string& value, std::string& error)
{
    VirtualInstrumentOptions& instrument = options.instrument;
    const auto delay = [&](std::uint32_t& field) {
        const auto ms = ParseNumber(value, 0, kLongestDelayMs);
        if (!ms) {
            error = name + " takes milliseconds from 0 to " + std::to_string(kLongestDelayMs)
                + ", not " + Quoted(value);
            return false;
        }
        field = static_cast<std::uint32_t>(*ms);
        return true;
    };
    if (name == "--card" || name == "--log" || name == "--record") {
        if (value.empty()) {
            error = name + " needs a file name";
            return false;
        }
        (name == "--card"         ? options.cardPath
                : name == "--log" ? options.logPath
                                  : options.recordPath)
            = value;
    } else if (name == "--card-size") {
        const auto token = MProject::ParseCardSize(value);
        if (!token) {
            error = "--card-size takes 128K 256K 512K 1M 2M 4M 8M 16M 24M 32M or 0 to 9, not "
                + Quoted(value);
            return false;
        }
        instrument.cardBytes = MProject::CardSizeBytes(*token);
    } else if (name == "--family") {
        const auto family = VirtualInstrumentOptions::ParseFamily(value);
        if (!family) {
            error = "--family takes zelta, percula or tinyloop, not " + Quoted(value);
            return false;
        }
        instrument.family = *family;
    } else if (name == "--model") {
        const auto model = ParseNumber(value, 0, 127);
        if (!model) {
            error = "--model takes a number from 0 to 127, not " + Quoted(value);
            return false;
        }
        instrument.model = static_cast<std::uint16_t>(*model);
    } else if (name == "--firmware") {
        const auto firmware = VirtualInstrumentOptions::ParseFirmware(value);
        if (!firmware) {
            error = "--firmware takes four printable ASCII characters (such as 0100), not "
                + Quoted(value);
            return false;
        }
        instrument.firmware = *firmware;
    } else if (name == "--baud") {
        const auto baud = ParseNumber(value, kLowestBaud, kHighestBaud);
        if (!baud) {
            error = "--baud takes a rate from " + std::to_string(kLowestBaud) + " to "
                + std::to_string(kHighestBaud) + " (31250 is a MIDI cable), not " + Quoted(value);
            return false;
        }
        options.baud = static_cast<std::uint32_t>(*baud);
    } else if (name == "--interface-buffer" || name == "--lose-every") {
        const auto bytes = ParseNumber(value, name == "--lose-every" ? 2 : 1, kLargestInterface);
        if (!bytes) {
            error = name + " takes a number of bytes from " + (name == "--lose-every" ? "2" : "1")
                + " to " + std::to_string(kLargestInterface) + ", not " + Quoted(value);
            return false;
        }
        (name == "--lose-every" ? options.loseEvery : options.interfaceBuffer)
            = static_cast<std::uint32_t>(*bytes);
    } else if (name == "--write-ms") {
        return delay(instrument.writeMs);
    } else if (name == "--erase-ms") {
        return delay(instrument.eraseMs);
    } else if (name == "--fault") {
        const auto fault = InstrumentFault::Parse(value);
        if (!fault) {
            error = "--fault takes drop:N, corrupt:N, refuse:R:N or silent:N (N the message's "
                    "number from 1, R a reason from 0 to 127), not "
                + Quoted(value);
            return false;
        }
        instrument.faults.push_back(*fault);
    }
    return true;
}

} // namespace

std::optional<SimOptions> ParseSimOptions(
    const std::vector<std::string>& args, std::string& error, SimPlace place)
{
    SimOptions options;
    bool modelGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto equals = arg.find('=');
        const std::string name = arg.starts_with("--") ? arg.substr(0, equals) : arg;
        const bool inlineValue = arg.starts_with("--") && equals != std::string::npos;
        if (Known(kFlags, name)) {
            if (inlineValue) {
                error = "option " + name + " takes no value";
                return std::nullopt;
            }
            if (name == "--pty" && place == SimPlace::InProcess) {
                error = "--pty belongs to 'cardmill sim'; the port sim is the instrument itself";
                return std::nullopt;
            }
            options.pty = options.pty || name == "--pty";
            options.instrument.noCard = options.instrument.noCard || name == "--no-card";
            options.instrument.writeProtected
                = options.instrument.writeProtected || name == "--write-protected";
            options.instrument.noEraseCommand
                = options.instrument.noEraseCommand || name == "--no-erase-command";
            options.instrument.clockInReplies
                = options.instrument.clockInReplies || name == "--clock";
            if (name == "--active-sensing")
                options.activeSensingMs = kActiveSensingMs;
        } else if (Known(kValued, name)) {
            std::string value;
            if (inlineValue) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                error = "option " + name + " needs a value";
                return std::nullopt;
            }
            if (!Apply(options, name, value, error))
                return std::nullopt;
            modelGiven = modelGiven || name == "--model";
        } else if (arg.starts_with("-")) {
            error = "unknown option " + arg;
            return std::nullopt;
        } else {
            error = "unexpected argument " + Quoted(arg);
            return std::nullopt;
        }
    }
    if (options.interfaceBuffer > 0 && options.baud == 0) {
        error = "--interface-buffer needs --baud: bytes wait in an interface only for a wire";
        return std::nullopt;
    }
    // The Percula and the Tinyloop know only model 0; the Zelta's default is the Grand.
    if (!modelGiven && options.instrument.family != kZelta)
        options.instrument.model = 0;
    return options;
}

} // namespace cardmill
