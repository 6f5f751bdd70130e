#include "measure/MeasureOptions.h"

#include "acquisition/ModuleTables.h"
#include "record/BlockRecord.h"
#include "record/PointIdentity.h"
#include "store/HttpPost.h"
#include "store/InfluxTarget.h"

#include <cmath>
#include <functional>
#include <map>

#include <QRegularExpression>

namespace {

QString RateList() {
    QStringList rates;
    for (int i = 0; i < ModuleTables::RateCount; ++i)
        rates << QString::number(ModuleTables::AdcRate(i));
    return rates.join(", ");
}

QString RangeList() {
    QStringList names;
    for (bool r : {false, true})
        for (int i = 0; i < 3; ++i)
            names << RangeName(r, i);
    return names.join(", ");
}

bool ParseRange(const QString& text, TRangeOption& range) {
    for (bool r : {false, true})
        for (int i = 0; i < 3; ++i)
            if (text.compare(RangeName(r, i), Qt::CaseInsensitive) == 0) {
                range.Resistance = r;
                range.Index = i;
                return true;
            }
    return false;
}

bool ParseChannel(const QString& text, int& channel) {
    bool ok = false;
    channel = text.trimmed().toInt(&ok);
    return ok && channel >= 1 && channel <= 16;
}

// "1-4,7": channels and ranges of channels, 1..16.
bool ParseChannels(const QString& text, bool channels[16]) {
    const QStringList parts = text.split(',');
    for (const QString& part : parts) {
        const QStringList ends = part.split('-');
        int first = 0;
        int last = 0;
        if (ends.size() == 1) {
            if (!ParseChannel(ends[0], first))
                return false;
            last = first;
        } else if (ends.size() == 2) {
            if (!ParseChannel(ends[0], first) || !ParseChannel(ends[1], last) || last < first)
                return false;
        } else {
            return false;
        }
        for (int c = first; c <= last; ++c)
            channels[c - 1] = true;
    }
    return true;
}

// A finite positive number of seconds, at most limit.
bool ParseSeconds(const QString& text, double limit, double& value) {
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value) && value > 0.0 && value <= limit;
}

// "500M": bytes, with an optional K, M or G (powers of 1024).
bool ParseSize(const QString& text, long long& bytes) {
    static const QString units = "KMG";
    QString number = text;
    long long scale = 1;
    if (const qsizetype unit = units.indexOf(text.right(1).toUpper()); !text.isEmpty() && unit >= 0) {
        number.chop(1);
        scale = 1LL << (10 * (unit + 1));
    }
    bool ok = false;
    const long long value = number.toLongLong(&ok);
    if (!ok || value < 1 || value > (1LL << 50) / scale)
        return false;
    bytes = value * scale;
    return true;
}

QString Bad(const QString& option, const QString& value, const QString& accepts) {
    return QStringLiteral("%1: '%2' is not accepted; %3").arg(option, value, accepts);
}

// A crate's serial or its number 1..16 as the window lists them.
QString ParseCrate(const QString& opt, const QString& v, QString& serial, int& number) {
    bool isNumber = false;
    const int n = v.toInt(&isNumber);
    if (isNumber && !v.startsWith('+') && !v.startsWith('-')) {
        if (n < 1 || n > 16)
            return Bad(opt, v, "a crate's serial, or its number 1..16 as the window lists them");
        number = n;
        serial.clear();
    } else {
        if (v.isEmpty() || v.size() > 15)
            return Bad(opt, v, "a crate's serial (1 to 15 characters) or its number 1..16");
        serial = v;
        number = 0;
    }
    return QString();
}

} // namespace

TParseResult ParseArguments(const QStringList& args) {
    TParseResult result;
    TMeasureOptions& o = result.Options;
    using Handler = std::function<QString(const QString& option, const QString& value)>;
    const std::map<QString, Handler> withValue = {
        {"--crate", [&](const QString& opt,
                        const QString& v) { return ParseCrate(opt, v, o.CrateSerial, o.CrateNumber); }},
        {"--module",
         [&](const QString& opt, const QString& v) {
             TModuleOption module;
             const qsizetype colon = v.lastIndexOf(':');
             const QString accepts = "CRATE:SLOT, CRATE a serial or a number as --crate takes it, SLOT 1..16";
             if (colon < 0 || !ParseChannel(v.mid(colon + 1), module.Slot))
                 return Bad(opt, v, accepts);
             if (const QString error = ParseCrate(opt, v.left(colon), module.CrateSerial, module.CrateNumber);
                 !error.isEmpty())
                 return Bad(opt, v, accepts);
             for (const TModuleOption& other : o.Modules)
                 if (other.CrateSerial == module.CrateSerial && other.CrateNumber == module.CrateNumber &&
                     other.Slot == module.Slot)
                     return Bad(opt, v, "each module once");
             o.Modules.push_back(module);
             return QString();
         }},
        {"--slot",
         [&](const QString& opt, const QString& v) {
             if (!ParseChannel(v, o.Slot))
                 return Bad(opt, v, "a slot number 1..16");
             return QString();
         }},
        {"--channels",
         [&](const QString& opt, const QString& v) {
             std::fill(std::begin(o.Channels), std::end(o.Channels), false);
             if (!ParseChannels(v, o.Channels))
                 return Bad(opt, v, "channels 1..16 as a list of numbers and ranges, e.g. 1-4,7");
             o.ChannelsGiven = true;
             return QString();
         }},
        {"--range",
         [&](const QString& opt, const QString& v) {
             TRangeOption range;
             QString name = v;
             // Channel 0 stands for every channel.
             bool channels[16] = {};
             const qsizetype colon = v.indexOf(':');
             if (colon >= 0) {
                 if (!ParseChannels(v.left(colon), channels))
                     return Bad(opt, v, "RANGE or CHANNELS:RANGE with channels 1..16, e.g. 5-8:4000R");
                 name = v.mid(colon + 1);
             }
             if (!ParseRange(name, range))
                 return Bad(opt, v, "one of " + RangeList() + ", alone or as CHANNELS:RANGE");
             for (int c = 1; c <= 16; ++c)
                 if (range.Resistance && channels[c - 1] && c > ModuleTables::ResistanceChannels)
                     return QStringLiteral(
                                "%1: '%2' is not accepted; resistance is measured on channels 1..%3 only")
                         .arg(opt, v)
                         .arg(ModuleTables::ResistanceChannels);
             if (colon < 0) {
                 o.Ranges.push_back(range);
                 return QString();
             }
             for (int c = 1; c <= 16; ++c)
                 if (channels[c - 1]) {
                     range.Channel = c;
                     o.Ranges.push_back(range);
                 }
             return QString();
         }},
        {"--rate",
         [&](const QString& opt, const QString& v) {
             bool ok = false;
             const double hz = v.toDouble(&ok);
             for (int i = 0; ok && i < ModuleTables::RateCount; ++i)
                 if (std::fabs(hz - ModuleTables::AdcRate(i)) < 1e-9) {
                     o.RateIndex = i;
                     return QString();
                 }
             return Bad(opt, v, "one of the rates " + RateList() + " (Hz)");
         }},
        {"--correction",
         [&](const QString& opt, const QString& v) {
             if (v == "initial")
                 o.CorrectionMode = 0;
             else if (v == "continuous")
                 o.CorrectionMode = 1;
             else
                 return Bad(opt, v, "initial or continuous");
             return QString();
         }},
        {"--time",
         [&](const QString& opt, const QString& v) {
             if (!ParseSeconds(v, 3600.0, o.Time))
                 return Bad(opt, v, "the acquisition time of a block in seconds, above 0 and at most 3600");
             return QString();
         }},
        {"--method",
         [&](const QString& opt, const QString& v) {
             if (v != "sum" && v != "fft")
                 return Bad(opt, v, "sum or fft");
             o.Method = v;
             return QString();
         }},
        {"--settings",
         [&](const QString& opt, const QString& v) {
             if (v.isEmpty())
                 return Bad(opt, v, "the path of a settings file");
             o.SettingsPath = v;
             return QString();
         }},
        {"--blocks",
         [&](const QString& opt, const QString& v) {
             bool ok = false;
             o.Blocks = v.toLongLong(&ok);
             if (!ok || o.Blocks < 1)
                 return Bad(opt, v, "a number of blocks, 1 or more");
             return QString();
         }},
        {"--duration",
         [&](const QString& opt, const QString& v) {
             if (!ParseSeconds(v, 1e9, o.Duration))
                 return Bad(opt, v, "a number of seconds above 0");
             return QString();
         }},
        {"--format",
         [&](const QString& opt, const QString& v) {
             if (v == "csv")
                 o.Format = TOutputFormat::Csv;
             else if (v == "jsonl")
                 o.Format = TOutputFormat::Jsonl;
             else if (v == "influx")
                 o.Format = TOutputFormat::Influx;
             else
                 return Bad(opt, v, "csv, jsonl or influx");
             return QString();
         }},
        {"--output",
         [&](const QString& opt, const QString& v) {
             if (v.isEmpty())
                 return Bad(opt, v, "the path of the file to write");
             o.OutputPath = v;
             return QString();
         }},
        {"--measurement",
         [&](const QString& opt, const QString& v) {
             static const QRegularExpression name("^[A-Za-z0-9_.-]{1,64}$");
             if (!name.match(v).hasMatch())
                 return Bad(opt, v, "1 to 64 letters, digits, '_', '.' or '-'");
             o.Measurement = v;
             return QString();
         }},
        {"--tag",
         [&](const QString& opt, const QString& v) {
             static const QRegularExpression key("^[A-Za-z_][A-Za-z0-9_]{0,63}$");
             const qsizetype equals = v.indexOf('=');
             const QString k = v.left(equals);
             const QString value = v.mid(equals + 1);
             const bool printable =
                 std::all_of(value.begin(), value.end(), [](QChar c) { return c.isPrint(); });
             if (equals < 0 || !key.match(k).hasMatch() || value.isEmpty() || !printable)
                 return Bad(opt, v,
                            "KEY=VALUE, KEY of letters, digits and '_', VALUE printable and not empty");
             if (ReservedRecordKey(k))
                 return Bad(opt, v, "KEY '" + k + "' names a column of the record already");
             for (const auto& tag : o.Tags)
                 if (tag.first == k)
                     return Bad(opt, v, "KEY '" + k + "' is given twice");
             o.Tags.emplace_back(k, value);
             return QString();
         }},
        {"--influx-url",
         [&](const QString& opt, const QString& v) {
             TUrlParts parts;
             QString why;
             if (!ParseHttpUrl(v, parts, why))
                 return QStringLiteral("%1: %2").arg(opt, why);
             o.InfluxUrl = v;
             return QString();
         }},
        {"--influx-db",
         [&](const QString& opt, const QString& v) {
             if (v.isEmpty())
                 return Bad(opt, v, "the name of the database");
             o.InfluxDb = v;
             return QString();
         }},
        {"--influx-precision",
         [&](const QString& opt, const QString& v) {
             if (InfluxPrecisionDivisor(v) == 0)
                 return Bad(opt, v, "ms, u or ns");
             o.InfluxPrecision = v;
             return QString();
         }},
        {"--influx-credentials",
         [&](const QString& opt, const QString& v) {
             if (v.isEmpty())
                 return Bad(opt, v, "a file holding one line USER:PASSWORD");
             o.InfluxCredentials = v;
             return QString();
         }},
        {"--spool",
         [&](const QString& opt, const QString& v) {
             if (v.isEmpty())
                 return Bad(opt, v, "a directory");
             o.SpoolDir = v;
             return QString();
         }},
        {"--spool-max",
         [&](const QString& opt, const QString& v) {
             if (!ParseSize(v, o.SpoolMax))
                 return Bad(opt, v, "a size in bytes, with K, M or G if wanted, e.g. 500M");
             return QString();
         }},
    };
    const std::map<QString, bool*> flags = {
        {"--help", &o.Help},   {"-h", &o.Help},         {"--version", &o.Version},
        {"--list", &o.List},   {"--append", &o.Append}, {"--force", &o.Force},
        {"--quiet", &o.Quiet}, {"--tee", &o.Tee},       {"--any-module", &o.AnyModule},
    };

    for (qsizetype i = 0; i < args.size(); ++i) {
        QString option = args[i];
        QString value;
        bool inlineValue = false;
        if (option.startsWith("--") && option.contains('=')) {
            value = option.mid(option.indexOf('=') + 1);
            option = option.left(option.indexOf('='));
            inlineValue = true;
        }
        if (const auto flag = flags.find(option); flag != flags.end() && !inlineValue) {
            *flag->second = true;
            continue;
        }
        const auto handler = withValue.find(option);
        if (handler == withValue.end()) {
            result.Error = QStringLiteral("unknown option '%1'; see --help").arg(args[i]);
            return result;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                result.Error = QStringLiteral("%1 needs a value; see --help").arg(option);
                return result;
            }
            value = args[++i];
        }
        result.Error = handler->second(option, value);
        if (!result.Error.isEmpty())
            return result;
    }
    if (o.Append && o.Force)
        result.Error = QStringLiteral("--append and --force exclude each other");
    else if ((o.Append || o.Force || o.Tee) && o.OutputPath.isEmpty())
        result.Error = QStringLiteral("--append, --force and --tee need --output FILE");
    else if (o.Blocks > 0 && o.Duration > 0.0)
        result.Error = QStringLiteral("--blocks and --duration exclude each other");
    else if (o.InfluxUrl.isEmpty() != o.InfluxDb.isEmpty())
        result.Error = QStringLiteral("--influx-url and --influx-db go together");
    else if (!o.Modules.empty() &&
             (o.CrateNumber > 0 || !o.CrateSerial.isEmpty() || o.Slot > 0 || o.AnyModule))
        result.Error =
            QStringLiteral("--module names crate and slot itself: no --crate, --slot or --any-module");
    return result;
}

QString HelpText() {
    return QStringLiteral(
               "Usage: km808-measure [OPTION]...\n"
               "Measures with a KM808 module on the window's own engine and writes one line per block.\n"
               "\n"
               "What to measure (default: the first KM808 found, with the choices of a fresh\n"
               "settings file; the options below change them):\n"
               "  --settings FILE      take every choice from the window's settings file (read only)\n"
               "  --crate SERIAL|N     the crate by serial, or its number 1..16 as the window lists them\n"
               "  --slot N             the module's slot 1..16\n"
               "  --module CRATE:SLOT  a module to measure (repeatable: the modules measure at the same\n"
               "                       time, each on its own thread, with the same channels, ranges and\n"
               "                       rate; CRATE as --crate takes it). A module that fails is named\n"
               "                       and the others go on; the exit status is then 1\n"
               "  --any-module         if the named module (options or settings file) is not there\n"
               "                       or busy, measure the first KM808 found instead\n"
               "  --channels LIST      channels 1..16, e.g. 1-4,7\n"
               "  --range RANGE        range of every channel: %1\n"
               "  --range CH:RANGE     range of channels, e.g. 3:2V or 5-8:4000R (repeatable; the\n"
               "                       later wins). A resistance range puts channels 1..8 in\n"
               "                       resistance mode: every chosen channel must then be one of\n"
               "                       1..8 with a resistance range\n"
               "  --rate HZ            converter rate: %2\n"
               "  --correction MODE    initial or continuous\n"
               "  --time S             acquisition time of a block in seconds\n"
               "  --method METHOD      sum or fft\n"
               "  --list               list the crates and modules as the window lists them, then exit\n"
               "\n"
               "How long (default: until Ctrl+C or SIGTERM):\n"
               "  --blocks N           N blocks\n"
               "  --duration S         blocks until S seconds have passed\n"
               "\n"
               "Output:\n"
               "  --format FORMAT      csv (default), jsonl or influx (InfluxDB line protocol)\n"
               "  --output FILE        write the lines to FILE (each block synced to disk) instead of\n"
               "                       standard output; an existing FILE needs --append or --force\n"
               "  --append, --force    add to an existing FILE, or replace it\n"
               "  --tee                with --output, also write the lines to standard output\n"
               "  --quiet              no start lines, no summary at the end\n"
               "  --measurement NAME   the line protocol's measurement (default km808)\n"
               "  --tag KEY=VALUE      a tag of the operator's own in every line (repeatable); every\n"
               "                       line also names the module's crate, slot and serial and the\n"
               "                       host (csv: columns after over)\n"
               "\n"
               "Delivery to an InfluxDB 1.x (beside the output above):\n"
               "  --influx-url URL     http://HOST:PORT of the store\n"
               "  --influx-db NAME     the database\n"
               "  --influx-precision P time stamps in ms (default), u or ns\n"
               "  --influx-credentials FILE\n"
               "                       one line USER:PASSWORD; without it INFLUX_USERNAME and\n"
               "                       INFLUX_PASSWORD are used if set\n"
               "  --spool DIR          every point waits here (synced) until the store has it; a\n"
               "                       later run sends what is left (default\n"
               "                       $XDG_STATE_HOME/km808-measure/spool)\n"
               "  --spool-max SIZE     at most this much unsent (default 1G); when full the run stops\n"
               "  -h, --help           this text\n"
               "  --version            the version\n"
               "\n"
               "At the start, the module measured and the planned block period go to standard error\n"
               "(not with --quiet). The summary (blocks, mean, min, max, standard deviation, last\n"
               "value per channel) and errors go to standard error; progress too, when it is a\n"
               "terminal. A reader of standard output that goes away (| head) ends the run, status 0.\n"
               "\n"
               "Exit status:\n"
               "  0  done (the blocks asked for, the duration, or stopped by Ctrl+C or SIGTERM)\n"
               "  1  the measurement failed (crate server, crate, module busy or failing, set-up,\n"
               "     calibration, start, receive, stop, writing the output, or a full spool)\n"
               "  2  bad usage: an unknown or bad option, an impossible choice, a named crate or slot\n"
               "     that is not there, or an --append to a file of another format or columns;\n"
               "     nothing was measured\n")
        .arg(RangeList(), RateList());
}
