#include "station_window/station_options.h"

#include <QCommandLineParser>
#include <limits>

#include "platform/serial_line.h"

namespace quillon {

namespace {

const char* const kDescription =
    "Flashes a set-top box on every slot of a station, box after box, in a window\n"
    "with a tile for each slot. Every option may be left out: the settings file's\n"
    "[STATION] section then gives the slots ([STATION] Ports, [SLOTS] COMn=name),\n"
    "the log, the trace folder and the expected series. Space stops and starts\n"
    "every slot; a scan of a slot's label, then of its box, names the box.";

struct OptionSpec {
    const char* name;
    const char* help;
    const char* value;  // nullptr: a flag
};

const OptionSpec kOptions[] = {
    {"device", "Serial device path of a slot; once for each slot.", "PATH"},
    {"port", "COM port numbers, mapped by [PORTS] COMn: 3, or a list such as 1-8,12.", "N|LIST"},
    {"baud", "Baud rate, 50 to 12000000.", "N"},
    {"boot-folder", "Folder of c_bus.txt and init_uploads.txt.", "DIR"},
    {"start-address", "Start address for the final execute command, hexadecimal.", "HEX"},
    {"settings",
     "Settings file (default: quillon.INI beside the program, else "
     "~/.config/quillon/quillon.INI).",
     "FILE"},
    {"log", "Append one JSON object per finished box to this file.", "FILE"},
    {"trace-dir", "Keep a trace of the line for each box in this folder.", "DIR"},
    {"trace-keep", "Keep the traces of all boxes, or only of those that failed (default all).",
     "all|failed"},
    {"trace-dir-max",
     "Keep the trace folder within this size (500M, 2G), the oldest traces of good boxes "
     "removed first.",
     "SIZE"},
    {"expect-series",
     "Refuse to start unless the series identity begins with these 8 to 64 "
     "hexadecimal digits.",
     "HEX"},
    {"reset-command",
     "Run through the shell before each wait for a box; {device}, {slot} and "
     "{port} are replaced.",
     "COMMAND"},
    {"reset-timeout", "Seconds the reset command may take (default 10).", "SECONDS"},
    {"retries", "Try a box that failed this many more times before its verdict is final.", "N"},
    {"box-id-command",
     "Run before each box's first try, {device}, {slot} and {port} replaced: its first line "
     "is the box's identity.",
     "COMMAND"},
    {"operator", "Who flashes the boxes, for the records (changed in the window).", "NAME"},
    {"lot", "The lot the boxes belong to, for the records (changed in the window).", "TEXT"},
    {"simulate", "Run against boxes of the built-in emulator instead of devices.", nullptr},
    {"boxes", "With --simulate: this many emulated boxes, 1 to 64 (default 1).", "N"},
    {"metrics",
     "Serve Prometheus metrics on /metrics at this port, on 127.0.0.1 unless an address is "
     "given; bind it to a trusted interface only.",
     "[ADDRESS:]PORT"},
};

bool WholeNumber(const QString& text, long low, long high, int& value) {
    bool ok = false;
    long number = text.toLong(&ok);
    if (!ok || number < low || number > high) {
        return false;
    }
    value = static_cast<int>(number);
    return true;
}

StationCommand Wrong(QString text) {
    StationCommand command;
    command.action = StationCommand::Action::Wrong;
    command.text = std::move(text) + "\nRun with --help for the options.";
    return command;
}

std::string Value(const QCommandLineParser& parser, const char* name) {
    return parser.value(name).toStdString();
}

std::vector<std::string> Values(const QCommandLineParser& parser, const char* name) {
    std::vector<std::string> values;
    for (const QString& value : parser.values(name)) {
        values.push_back(value.toStdString());
    }
    return values;
}

// The numbers as numbers; their ranges are checked where the run is set up,
// for every face alike.
bool TakeNumbers(const QCommandLineParser& parser, RunOptions& options, QString& text) {
    if (parser.isSet("baud") &&
        !WholeNumber(parser.value("baud"), kLowestBaud, kHighestBaud, options.baud)) {
        text = "--baud: a whole number from 50 to 12000000, not " + parser.value("baud");
        return false;
    }
    if (parser.isSet("boxes") &&
        !WholeNumber(parser.value("boxes"), 0, std::numeric_limits<int>::max(), options.boxes)) {
        text = "--boxes: not a whole number: " + parser.value("boxes");
        return false;
    }
    if (parser.isSet("retries")) {
        int retries = 0;
        if (!WholeNumber(parser.value("retries"), 0, kMostRetries, retries)) {
            text = QStringLiteral("--retries: a whole number from 0 to %1, not %2")
                       .arg(kMostRetries)
                       .arg(parser.value("retries"));
            return false;
        }
        options.retries = retries;
    }
    if (parser.isSet("reset-timeout")) {
        bool ok = false;
        options.resetTimeout = parser.value("reset-timeout").toDouble(&ok);
        if (!ok) {
            text = "--reset-timeout: not a number of seconds: " + parser.value("reset-timeout");
            return false;
        }
    }
    return true;
}

}  // namespace

StationCommand ParseStationCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    parser.addHelpOption();
    parser.addVersionOption();
    for (const OptionSpec& spec : kOptions) {
        parser.addOption(spec.value ? QCommandLineOption(spec.name, spec.help, spec.value)
                                    : QCommandLineOption(spec.name, spec.help));
    }
    StationCommand command;
    if (!parser.parse(arguments)) {
        return Wrong(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Wrong("not an option: " + parser.positionalArguments().join(' '));
    }
    const bool help = parser.isSet("help") || parser.isSet("help-all");
    if (help || parser.isSet("version")) {
        command.action = help ? StationCommand::Action::Help : StationCommand::Action::Version;
        command.text = parser.helpText();
        return command;
    }
    RunOptions& options = command.options;
    options.station = true;  // box after box on every slot
    options.devices = Values(parser, "device");
    options.ports = Values(parser, "port");
    if (parser.isSet("boot-folder")) {
        options.bootFolder = Value(parser, "boot-folder");
    }
    options.startAddress = Value(parser, "start-address");
    options.settingsPath = Value(parser, "settings");
    options.log = Value(parser, "log");
    options.traceDir = Value(parser, "trace-dir");
    options.traceKeep = Value(parser, "trace-keep");
    options.traceDirMax = Value(parser, "trace-dir-max");
    options.boxIdCommand = Value(parser, "box-id-command");
    options.operatorName = Value(parser, "operator");
    options.lot = Value(parser, "lot");
    options.expectSeries = Value(parser, "expect-series");
    options.resetCommand = Value(parser, "reset-command");
    options.metrics = Value(parser, "metrics");
    options.simulate = parser.isSet("simulate");
    QString wrong;
    if (!TakeNumbers(parser, options, wrong)) {
        return Wrong(wrong);
    }
    return command;
}

}  // namespace quillon
