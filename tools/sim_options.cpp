#include "sim_options.h"

#include <QCommandLineParser>
#include <algorithm>
#include <array>
#include <optional>

#include "protocol/module_frames.h"

namespace corvelle::sim {
namespace {

const char* const kDescription = R"(
Simulated acquisition terminals for the Corvelle console. Each terminal connects to the
console over TCP (again every --retry-ms while the console is away or after the line
drops), registers with its name, answers the module query and serves a Modbus ASCII I/O
board at slave address 0x0A.

Board, function 04 (read input registers, start + count within registers 0-17):
  0 signal value, counting up by one per read     3 reference, 2500 mV
  1 relay word, low byte first (bit i = relay i+1)  4 temperature, 0.01 degC around 25 degC
  2 input word, low byte first (bit i = input i+1)  5 supply, 0.01 V around 12.05 V
  6-17 channels 1-12 in mV, shaped by --wave and clamped to -32768..32767
  A board with 4 or 6 channels still answers every count up to 18: the registers of the
  channels it does not have read 0.
  Inputs step through a Gray code every 2 s, so one input lamp changes at a time.
Function 05 (write single coil) on coils 0-11 with FF00 (on) or 0000 (off) switches the
relay, echoes the request, and the next read's relay word shows it.
Exception replies: 01 any other function; 02 registers or coil out of range; 03 a coil
value other than FF00/0000, or a request of the wrong length. Frames for another slave
address, or with a wrong LRC, get no answer, as on a shared RS-485 line.

Wave shape (--wave, repeatable, applied in order): CH:KIND[:OFFSET[:AMPLITUDE[:PERIOD]]]
  CH 1-12 or all; KIND sine, ramp, const or noise; OFFSET and AMPLITUDE in mV; PERIOD in
  ms. Fields left out keep the channel's values. Default: channel k is a sine of k*1000 mV
  amplitude around 0 mV with a 20000 ms period; channels are spread evenly in phase.
  Example: --wave all:const:1500 --wave 2:ramp:0:5000:10000

Fault injection: --reply-delay and --split-reply apply to every reply, the module reply
included; --corrupt-lrc-every, --drop-every, --lower-hex and --noise-bytes apply to the
board's Modbus replies, counted from 1 over the terminal's life.

Output: one line per event (connected, registration status, identified, relay switched,
disconnected); --verbose adds every frame in both directions ("tx" to the console, "rx"
from it), as text for ASCII frames and as hex for binary ones.)";

struct ModelChoice {
    const char* option;
    const char* text;
};

constexpr std::array<ModelChoice, 3> kModels = {{
    {"4B", "CV4B-SIM"},
    {"6A", "CV6A-SIM"},
    {"6C", "CV6C-SIM"},
}};

std::optional<int> ParseBounded(const QString& text, int low, int high) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

QString BadValue(const QString& option, const QString& value, const QString& expected) {
    return QStringLiteral("invalid value for --%1: \"%2\" (expected %3)")
        .arg(option, value, expected);
}

}  // namespace

std::variant<SimOptions, QString> ParseOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    const QCommandLineOption helpOption = parser.addHelpOption();
    // -v belongs to --verbose, so the version option gets its long name only.
    const QCommandLineOption versionOption(QStringLiteral("version"),
                                           QStringLiteral("Displays version information."));

    const QCommandLineOption host(QStringLiteral("host"),
                                  QStringLiteral("Console host name or address (default "
                                                 "127.0.0.1)."),
                                  QStringLiteral("host"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")},
                                  QStringLiteral("Console TCP port, 1-65535 (default 20000)."),
                                  QStringLiteral("port"), QStringLiteral("20000"));
    const QCommandLineOption name(
        {QStringLiteral("n"), QStringLiteral("name")},
        QString::fromUtf8("Terminal name, sent as GB2312 (default 终端). With --terminals "
                          "above 1 it is a prefix: 终端1, 终端2, ..."),
        QStringLiteral("name"), QString::fromUtf8("终端"));
    const QCommandLineOption terminals({QStringLiteral("t"), QStringLiteral("terminals")},
                                       QStringLiteral("Number of terminals, 1-256, each with "
                                                      "its own connection and board "
                                                      "(default 1)."),
                                       QStringLiteral("count"), QStringLiteral("1"));
    const QCommandLineOption model({QStringLiteral("m"), QStringLiteral("model")},
                                   QStringLiteral("Board model: 4B (4 channels), 6A (6) or "
                                                  "6C (12) (default 6C)."),
                                   QStringLiteral("model"), QStringLiteral("6C"));
    const QCommandLineOption modelText(
        QStringLiteral("model-text"),
        QStringLiteral("Raw model text for the module reply instead of --model, up to 16 "
                       "Latin-1 characters; its characters 3 and 4 tell the console the "
                       "channel count. A text naming no known model gives a 12-channel "
                       "board."),
        QStringLiteral("text"));
    const QCommandLineOption wave(QStringLiteral("wave"),
                                  QStringLiteral("Channel waveform, see 'Wave shape' above; "
                                                 "repeatable."),
                                  QStringLiteral("shape"));
    const QCommandLineOption retry(QStringLiteral("retry-ms"),
                                   QStringLiteral("Pause before reconnecting, and before "
                                                  "registering again after status 0 or 2, "
                                                  "10-60000 ms (default 1000)."),
                                   QStringLiteral("ms"), QStringLiteral("1000"));
    const QCommandLineOption replyDelay(QStringLiteral("reply-delay"),
                                        QStringLiteral("Fault: hold every reply back this "
                                                       "long, 0-60000 ms."),
                                        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption splitReply(QStringLiteral("split-reply"),
                                        QStringLiteral("Fault: send every reply in two "
                                                       "writes this far apart, 0-60000 ms."),
                                        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption corruptLrc(QStringLiteral("corrupt-lrc-every"),
                                        QStringLiteral("Fault: every k-th board reply "
                                                       "carries an LRC off by one."),
                                        QStringLiteral("k"), QStringLiteral("0"));
    const QCommandLineOption dropEvery(QStringLiteral("drop-every"),
                                       QStringLiteral("Fault: every k-th board reply is "
                                                      "never sent."),
                                       QStringLiteral("k"), QStringLiteral("0"));
    const QCommandLineOption lowerHex(QStringLiteral("lower-hex"),
                                      QStringLiteral("Fault: board replies in lower-case "
                                                     "hex."));
    const QCommandLineOption noiseBytes(QStringLiteral("noise-bytes"),
                                        QStringLiteral("Fault: this many line-noise bytes "
                                                       "before the colon of every board "
                                                       "reply, 0-64."),
                                        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption noModuleReply(QStringLiteral("no-module-reply"),
                                           QStringLiteral("Fault: never answer the module "
                                                          "query."));
    const QCommandLineOption disconnectAfter(QStringLiteral("disconnect-after"),
                                             QStringLiteral("Fault: close each connection "
                                                            "after this many seconds "
                                                            "(decimals allowed), then "
                                                            "reconnect."),
                                             QStringLiteral("seconds"));
    const QCommandLineOption badRegistration(QStringLiteral("bad-registration-first"),
                                             QStringLiteral("Fault: on each connection send "
                                                            "a registration packet with a "
                                                            "bad CRC first."));
    const QCommandLineOption verbose({QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Print every frame in both directions."));
    parser.addOptions({versionOption, host, port, name, terminals, model, modelText, wave, retry,
                       replyDelay, splitReply, corruptLrc, dropEvery, lowerHex, noiseBytes,
                       noModuleReply, disconnectAfter, badRegistration, verbose});

    if (!parser.parse(arguments)) {
        return parser.errorText();
    }
    if (parser.isSet(helpOption)) {
        parser.showHelp(0);
    }
    if (parser.isSet(versionOption)) {
        parser.showVersion();
    }
    if (!parser.positionalArguments().isEmpty()) {
        return QStringLiteral("unexpected argument \"%1\"")
            .arg(parser.positionalArguments().constFirst());
    }

    SimOptions options;
    TerminalConfig& config = options.base;
    Faults& faults = config.faults;
    config.host = parser.value(host);
    if (config.host.isEmpty()) {
        return BadValue(QStringLiteral("host"), config.host, QStringLiteral("a host name"));
    }
    config.name = parser.value(name);

    struct Bounded {
        const QCommandLineOption& option;
        int low;
        int high;
        int& target;
    };
    int portNumber = 0;
    const std::array<Bounded, 8> bounded = {{
        {port, 1, 65535, portNumber},
        {terminals, 1, 256, options.terminals},
        {retry, 10, 60000, config.retryMs},
        {replyDelay, 0, 60000, faults.replyDelayMs},
        {splitReply, 0, 60000, faults.splitGapMs},
        {corruptLrc, 0, 1000000, faults.corruptLrcEvery},
        {dropEvery, 0, 1000000, faults.dropEveryReply},
        {noiseBytes, 0, 64, faults.noiseBytes},
    }};
    for (const Bounded& b : bounded) {
        const QString text = parser.value(b.option);
        const auto value = ParseBounded(text, b.low, b.high);
        if (!value) {
            return BadValue(b.option.names().constLast(), text,
                            QStringLiteral("%1-%2").arg(b.low).arg(b.high));
        }
        b.target = *value;
    }
    config.port = static_cast<quint16>(portNumber);
    faults.lowerCaseHex = parser.isSet(lowerHex);
    faults.silentModule = parser.isSet(noModuleReply);
    faults.badRegistrationFirst = parser.isSet(badRegistration);
    options.verbose = parser.isSet(verbose);

    if (parser.isSet(disconnectAfter)) {
        bool ok = false;
        const QString text = parser.value(disconnectAfter);
        const double seconds = text.toDouble(&ok);
        if (!ok || seconds < 0.01 || seconds > 86400) {
            return BadValue(disconnectAfter.names().constFirst(), text,
                            QStringLiteral("0.01-86400 seconds"));
        }
        faults.disconnectAfterMs = static_cast<int>(seconds * 1000);
    }

    if (parser.isSet(modelText)) {
        const QString text = parser.value(modelText);
        const bool latin1 =
            std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
        if (text.isEmpty() || text.size() > static_cast<qsizetype>(kModelTextSize) || !latin1) {
            return BadValue(modelText.names().constFirst(), text,
                            QStringLiteral("1-16 Latin-1 characters"));
        }
        config.modelText = text.toLatin1().toStdString();
    } else {
        const QString choice = parser.value(model);
        const auto* found = std::find_if(kModels.begin(), kModels.end(), [&](const auto& m) {
            return choice.compare(QLatin1String(m.option), Qt::CaseInsensitive) == 0;
        });
        if (found == kModels.end()) {
            return BadValue(QStringLiteral("model"), choice, QStringLiteral("4B, 6A or 6C"));
        }
        config.modelText = found->text;
    }
    const std::uint8_t channels =
        EvaluateModuleReply(BuildModuleReply(config.modelText)).channelCount;
    config.board.channelCount = channels != 0 ? channels : kChannelCount;

    for (const QString& shape : parser.values(wave)) {
        if (!ApplyWaveOption(shape.toStdString(), config.board.waves)) {
            return BadValue(QStringLiteral("wave"), shape,
                            QStringLiteral("CH:KIND[:OFFSET[:AMPLITUDE[:PERIOD]]]"));
        }
    }
    return options;
}

}  // namespace corvelle::sim
