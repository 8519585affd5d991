#include "tools/SimulatorOptions.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>

namespace machine_sim {

namespace {

long ParseNumber(const std::string& option, const std::string& text, long lowest, long highest) {
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < lowest || value > highest)
    throw UsageError(option + " wants a number from " + std::to_string(lowest) + " to " + std::to_string(highest) +
                     ", not \"" + text + "\"");
  return value;
}

std::chrono::milliseconds ParseMilliseconds(const std::string& option, const std::string& text) {
  return std::chrono::milliseconds(ParseNumber(option, text, 0, 24L * 3600 * 1000));
}

BubbleMode ParseMode(const std::string& text) {
  if (text == "multi" || text == "multiple") return BubbleMode::Multiple;
  if (text == "single") return BubbleMode::Single;
  throw UsageError("--mode wants multi or single, not \"" + text + "\"");
}

HighBits ParseHighBits(const std::string& text) {
  if (text == "zero") return HighBits::Zero;
  if (text == "ascii") return HighBits::Ascii;
  if (text == "random") return HighBits::Random;
  throw UsageError("--high-bits wants zero, ascii or random, not \"" + text + "\"");
}

using ValueHandler = std::function<void(SimulatorOptions&, const std::string& option, const std::string& value)>;
using FlagHandler = std::function<void(SimulatorOptions&)>;

const std::map<std::string, ValueHandler>& ValueOptions() {
  static const std::map<std::string, ValueHandler> options = {
      {"--firmware", [](SimulatorOptions& o, const std::string&, const std::string& v) {
         if (!IsUsableFirmwareText(v)) throw UsageError("--firmware: \"" + v + "\" cannot stand in the version line");
         o.config.protocol.firmware = v;
       }},
      {"--ack", [](SimulatorOptions& o, const std::string&, const std::string& v) {
         o.config.protocol.acknowledgement = DecodeEscapes(v);
         if (o.config.protocol.acknowledgement.empty()) throw UsageError("--ack cannot be empty (use --silent)");
       }},
      {"--mode", [](SimulatorOptions& o, const std::string&, const std::string& v) {
         o.config.protocol.initialMode = ParseMode(v);
       }},
      {"--sheet", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         try {
           o.config.sheets.push_back(ParseSheetPattern(v));
         } catch (const SheetFormatError& e) {
           throw UsageError(opt + ": " + e.what());
         }
       }},
      {"--sheets", [](SimulatorOptions& o, const std::string&, const std::string& v) {
         try {
           auto sheets = LoadSheetFile(v);
           o.config.sheets.insert(o.config.sheets.end(), sheets.begin(), sheets.end());
         } catch (const SheetFormatError& e) {
           throw UsageError(std::string("--sheets: ") + e.what());
         }
       }},
      {"--seed", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         o.config.seed = static_cast<std::uint32_t>(ParseNumber(opt, v, 0, 0xFFFFFFFFL));
       }},
      {"--columns", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         o.config.randomColumns = static_cast<int>(ParseNumber(opt, v, 1, 250));
       }},
      {"--high-bits", [](SimulatorOptions& o, const std::string&, const std::string& v) {
         o.config.record.highBits = ParseHighBits(v);
       }},
      {"--interval", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         o.config.scanInterval = ParseMilliseconds(opt, v);
       }},
      {"--count", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         o.config.scanCount = ParseNumber(opt, v, 0, 1000000000L);
       }},
      {"--calibration-interval", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         o.config.calibrationInterval = ParseMilliseconds(opt, v);
       }},
      {"--split", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         o.config.shape.maxPieces = static_cast<int>(ParseNumber(opt, v, 1, 1000));
       }},
      {"--gap", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         o.config.shape.maxGap = std::chrono::milliseconds(ParseNumber(opt, v, 1, 10000));
       }},
      {"--noise", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         o.config.shape.noisePercent = static_cast<int>(ParseNumber(opt, v, 0, 100));
       }},
      {"--noise-quiet", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         o.config.shape.noiseQuiet = ParseMilliseconds(opt, v);
       }},
      {"--baud", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         o.config.baud = static_cast<int>(ParseNumber(opt, v, 0, 4000000));
       }},
      {"--reply-delay", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         o.config.replyDelay = ParseMilliseconds(opt, v);
       }},
      {"--link", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         if (v.empty()) throw UsageError(opt + " wants a path");
         o.config.linkPath = v;
       }},
      {"--settings", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         if (v.empty()) throw UsageError(opt + " wants a file");
         o.settingsFile = v;
       }},
      {"--port", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         o.port = static_cast<int>(ParseNumber(opt, v, 1, 24));
       }},
      {"--expect", [](SimulatorOptions& o, const std::string& opt, const std::string& v) {
         if (v.empty()) throw UsageError(opt + " wants a file");
         o.expectFile = v;
       }},
  };
  return options;
}

const std::map<std::string, FlagHandler>& FlagOptions() {
  static const std::map<std::string, FlagHandler> options = {
      {"--silent", [](SimulatorOptions& o) { o.config.protocol.silentToAttention = true; }},
      {"--calibration-timeout", [](SimulatorOptions& o) { o.config.protocol.calibrationTimesOut = true; }},
      {"--store-fails", [](SimulatorOptions& o) { o.config.protocol.storeFails = true; }},
      {"--random", [](SimulatorOptions&) {}},  // the default; checked below
      {"--random-header", [](SimulatorOptions& o) { o.config.record.randomHeader = true; }},
      {"--start-now", [](SimulatorOptions& o) { o.config.scanStartsAtOnce = true; }},
      {"--verbose", [](SimulatorOptions& o) { o.verbose = true; }},
      {"-v", [](SimulatorOptions& o) { o.verbose = true; }},
      {"--help", [](SimulatorOptions& o) { o.showHelp = true; }},
      {"-h", [](SimulatorOptions& o) { o.showHelp = true; }},
  };
  return options;
}

}  // namespace

SimulatorOptions ParseSimulatorOptions(const std::vector<std::string>& args) {
  SimulatorOptions options;
  options.config.keepHistory = false;  // a long demonstration must not grow without end
  bool randomAsked = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    if (auto flag = FlagOptions().find(name); flag != FlagOptions().end()) {
      if (value) throw UsageError(name + " takes no value");
      flag->second(options);
      randomAsked = randomAsked || name == "--random";
      continue;
    }
    const auto handler = ValueOptions().find(name);
    if (handler == ValueOptions().end()) throw UsageError("unknown option \"" + args[i] + "\"");
    if (!value) {
      if (i + 1 >= args.size()) throw UsageError(name + " wants a value");
      value = args[++i];
    }
    handler->second(options, name, *value);
  }
  if (randomAsked && !options.config.sheets.empty())
    throw UsageError("--random cannot be combined with --sheet or --sheets");
  if (!options.settingsFile.empty() && !options.port) throw UsageError("--settings needs --port");
  if (options.port && options.settingsFile.empty()) throw UsageError("--port needs --settings");
  return options;
}

std::string DecodeEscapes(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i >= text.size()) throw UsageError("a text ends in an unfinished escape");
    switch (text[i]) {
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case '\\': out += '\\'; break;
      case 'x': {
        unsigned value = 0;
        const char* first = text.data() + i + 1;
        const char* last = text.data() + std::min(text.size(), i + 3);
        const auto [end, error] = std::from_chars(first, last, value, 16);
        if (error != std::errc() || end != last || last - first != 2)
          throw UsageError("\\x wants two hexadecimal digits");
        out += static_cast<char>(value);
        i += 2;
        break;
      }
      default: throw UsageError(std::string("unknown escape \\") + text[i]);
    }
  }
  return out;
}

std::string SimulatorUsage() {
  return R"(usage: machine-simulator [options]

Plays the optical mark reader on a pseudo-terminal. The first line on standard
output is the device to open. Commands are read from standard input (type
"help"); an empty line drops a sheet.

The machine
  --firmware X              version in the reply to "v" (default 2.5; at most
                            3.1 means a four-sheet calibration, else eight)
  --mode multi|single       bubble mode until the application sends m or g
  --ack TEXT                acknowledgement of "@" (default K; escapes \r \n \xHH)
  --silent                  never answer "@"
  --calibration-timeout     answer "c" with T (calibration cannot start)
  --store-fails             answer "s" with F (storing fails)
  --reply-delay MS          wait before each answer (default 0)
  --baud N                  pace the output like the serial line (default
                            19200; 0 = as fast as possible)

Sheets
  --sheet PATTERN           a sheet, e.g. "1,,34,6" (repeatable)
  --sheets FILE             sheets from a file, one per line
  --random                  random sheets (the default without --sheet(s))
  --seed N                  seed for everything random (default 1)
  --columns N               columns of a random sheet (default 66)
  --high-bits zero|ascii|random
                            the free bits 6/7 of multiple-mode bytes (default random)
  --random-header           random header bytes instead of a sequence number
  --interval MS             drop a sheet every MS ms, from the first "m"/"g"
  --start-now               ... or from the start
  --count N                 scheduled sheets (default: the listed sheets once,
                            random ones without end)
  --calibration-interval MS drop a blank sheet every MS ms while calibrating

The line
  --split N                 split each message into up to N random pieces
  --gap MS                  longest gap between pieces (default 15)
  --noise PERCENT           chance of a noise burst after a record (default 0)
  --noise-quiet MS          silence after noise (default 60)

Around it
  --link PATH               a symbolic link to the device (removed on unplug)
  --settings FILE --port N  map COM<N> to the device in the application's
                            settings file and make N its port
  --expect FILE             write the row each delivered sheet should give
  --verbose, -v             log the line and the machine's doings on stderr
  --help, -h                this text

Signals: SIGUSR1 unplugs (the device vanishes), SIGUSR2 drops a sheet,
SIGINT/SIGTERM/SIGHUP end the program (which unplugs too).
)";
}

}  // namespace machine_sim
