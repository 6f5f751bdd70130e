// An appended file must already hold lines of the same format, channels and
// units: lines under another header would be read as the wrong quantity.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

#include "record/BlockRecord.h"

// Why lines of format and columns do not belong after firstLine (the file's
// first line, without its end); empty when they do.
QString AppendMismatch(TOutputFormat format, const std::vector<TRecordColumn>& columns,
                       const TPointIdentity& identity, const QByteArray& firstLine);
