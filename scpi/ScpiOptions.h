// The command line of km808-scpi.
#pragma once

#include <QString>
#include <QStringList>

struct TScpiOptions {
    bool Help = false;
    QString Host = QStringLiteral("127.0.0.1"); // loopback unless told otherwise
    int Port = 5025;
    QString CrateSerial; // --crate SERIAL
    int CrateNumber = 0; // --crate N, 1-based as the window lists them
    int Slot = 0;        // 0: the crate's first KM808
};

struct TScpiParse {
    TScpiOptions Options;
    QString Error; // empty when the command line is good
};

// args: without the program's name.
TScpiParse ParseScpiArguments(const QStringList& args);
QString ScpiHelpText();
