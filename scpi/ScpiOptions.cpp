#include "scpi/ScpiOptions.h"

#include <QHostAddress>

TScpiParse ParseScpiArguments(const QStringList& args) {
    TScpiParse result;
    TScpiOptions& o = result.Options;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString option = args[i];
        QString value;
        const bool inlineValue = option.startsWith("--") && option.contains('=');
        if (inlineValue) {
            value = option.mid(option.indexOf('=') + 1);
            option = option.left(option.indexOf('='));
        }
        if ((option == "--help" || option == "-h") && !inlineValue) {
            o.Help = true;
            continue;
        }
        if (option != "--listen" && option != "--crate" && option != "--slot") {
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
        auto bad = [&](const QString& accepts) {
            result.Error = QStringLiteral("%1: '%2' is not accepted; %3").arg(option, value, accepts);
        };
        bool ok = false;
        if (option == "--listen") {
            const qsizetype colon = value.lastIndexOf(':');
            const int port = colon < 0 ? -1 : value.mid(colon + 1).toInt(&ok);
            QString host = colon < 0 ? QString() : value.left(colon);
            if (host.startsWith('[') && host.endsWith(']'))
                host = host.mid(1, host.size() - 2);
            if (!ok || port < 0 || port > 65535 || (host != "localhost" && QHostAddress(host).isNull())) {
                bad("HOST:PORT with an IP address (or localhost) and a port 0..65535");
                return result;
            }
            o.Host = host;
            o.Port = port;
        } else if (option == "--crate") {
            const int n = value.toInt(&ok);
            if (ok && !value.startsWith('+') && !value.startsWith('-')) {
                if (n < 1 || n > 16) {
                    bad("a crate's serial, or its number 1..16 as the window lists them");
                    return result;
                }
                o.CrateNumber = n;
                o.CrateSerial.clear();
            } else {
                if (value.isEmpty() || value.size() > 15) {
                    bad("a crate's serial (1 to 15 characters) or its number 1..16");
                    return result;
                }
                o.CrateSerial = value;
                o.CrateNumber = 0;
            }
        } else {
            o.Slot = value.toInt(&ok);
            if (!ok || o.Slot < 1 || o.Slot > 16) {
                bad("a slot number 1..16");
                return result;
            }
        }
    }
    return result;
}

QString ScpiHelpText() {
    return QStringLiteral(
        "Usage: km808-scpi [OPTION]...\n"
        "Serves a KM808 module as an SCPI instrument over TCP (a VISA resource\n"
        "TCPIP::HOST::PORT::SOCKET, lines ended by a newline).\n"
        "\n"
        "  --listen HOST:PORT   address to listen on (default 127.0.0.1:5025; loopback\n"
        "                       unless told otherwise, e.g. 0.0.0.0:5025)\n"
        "  --crate SERIAL|N     the crate by serial, or its number 1..16 as the window lists them\n"
        "  --slot N             the module's slot 1..16 (default: the crate's first KM808)\n"
        "  -h, --help           this text\n"
        "\n"
        "Prints \"listening on HOST:PORT\" when ready. Ctrl+C or SIGTERM stop it with\n"
        "the module stopped and closed. The crate server is QIRA_SERVER's, as for\n"
        "the window.\n"
        "\n"
        "Exit status: 0 stopped by a signal; 1 the crate, module or address failed;\n"
        "2 bad usage.\n");
}
