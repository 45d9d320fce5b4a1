#include "engine/renderapi.h"

#include "engine/conversionoptions.h"
#include "platform/literals/literal_values.h"
#include "platform/literals/literals.h"
#include "platform/process.h"
#include "platform/text.h"

QByteArray RasterizeProcName;
QByteArray CancelProcName;
QByteArray ProgressProcName;
QByteArray LastCallProcName;
TConversionOptions ConversionOptions;

namespace {

// A path always travels in double quotes. Linux names may hold quotes and backslashes, which the
// Windows splitting rules would otherwise read as the end of the argument; they are escaped so
// the tool gets the path as one argument. A plain path gives just "path".
QString QuotePath(const QString& path) {
    QString quoted = QStringLiteral("\"");
    int backslashes = 0;
    for (const QChar c : path) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        if (c == QLatin1Char('"'))
            quoted += QString(backslashes * 2 + 1, QLatin1Char('\\'));
        else
            quoted += QString(backslashes, QLatin1Char('\\'));
        backslashes = 0;
        quoted += c;
    }
    quoted += QString(backslashes * 2, QLatin1Char('\\'));
    quoted += QLatin1Char('"');
    return quoted;
}

} // namespace

void RevealRenderEntryNames() {
    const QList<QByteArray> names =
        RevealHiddenTexts({HidRasterizeName, HidCancelName, HidProgressName, HidLastCallName});
    RasterizeProcName = names.value(0);
    CancelProcName = names.value(1);
    ProgressProcName = names.value(2);
    LastCallProcName = names.value(3);
}

QString ProbeCommandLine(const QString& filePath) {
    return QStringLiteral("pi ") + QuotePath(filePath);
}

QString UnlockCommandLine(const QString& filePath) {
    // The path goes through the system code page and back, as the renderer will see it.
    return QStringLiteral("pi -upw - ") + QuotePath(platform::fromAnsi(platform::toAnsi(filePath)));
}
