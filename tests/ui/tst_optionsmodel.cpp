// One options model: hostile stored values give the window and the convert command the same
// conversion options.

#include "testsupport.h"

#include "app/batch.h"
#include "app/batchoptions.h"
#include "app/optionsmodel.h"
#include "engine/conversionoptions.h"
#include "ui/mainform.h"
#include "ui/optionpanel.h"

#include <QApplication>
#include <QTest>

namespace {

QStringList Fields(const TConversionOptions& o) {
    return {o.OutputFolder, o.FormatName, o.Range,       o.FirstPage,
            o.LastPage,     o.Dpi,        o.JPEGQuality, QString::number(o.TiffCompression),
            o.OutputColor,  o.MultiPage};
}

// Every key but OutputFolder holding `value`.
QByteArray AllKeys(const QByteArray& value) {
    QByteArray content = "[System]\n";
    for (const char* key : {"OutputFormat", "Range", "FirstPage", "LastPage", "Dpi", "JPEGQuality",
                            "TiffFormat", "OutputColor", "EachPage"})
        content += QByteArray(key) + '=' + value + '\n';
    return content;
}

} // namespace

class TestOptionsModel : public QObject {
    Q_OBJECT

private slots:
    void bothFrontEndsAgree_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("quality"); // the JPEG quality both must convert with
        QTest::newRow("no file") << QByteArray() << "75";
        const QList<QPair<const char*, const char*>> hostile = {
            {"high", "75"}, {"", "75"}, {"-3", "75"}, {"99999", "99999"},
            {"7", "7"},     {"0", "0"}, {" 4", "4"},  {"05", "05"}};
        for (const auto& [value, quality] : hostile)
            QTest::newRow(value) << AllKeys(value) << QString(quality);
        QTest::newRow("text in the TIFF key")
            << QByteArray("[System]\nOutputFormat=4\nTiffFormat=G4 please\nOutputColor=1\n")
            << "75";
        QTest::newRow("two-level TIFF") << QByteArray("[System]\nOutputFormat=4\nTiffFormat=5\n"
                                                      "OutputColor=1\nEachPage=0\n")
                                        << "75";
        QTest::newRow("range with an open end")
            << QByteArray("[System]\nRange=1\nFirstPage=3\nLastPage=\nJPEGQuality=high\n") << "75";
    }

    void bothFrontEndsAgree() {
        QFETCH(QByteArray, content);
        QFETCH(QString, quality);
        Sandbox sandbox;
        Recorder recorder;
        if (!content.isNull())
            WriteAll(SettingsFilePath(), content);

        OptionValues values;
        BatchOptionValues(BatchOptions{}, ReadAll(SettingsFilePath()), values);
        TConversionOptions fromCommand;
        BuildConversionOptions(values, fromCommand);

        TMainForm form;
        TConversionOptions fromWindow;
        form.Options().FillConversionOptions(fromWindow);

        QCOMPARE(Fields(fromCommand), Fields(fromWindow));
        QCOMPARE(fromWindow.JPEGQuality, quality);
    }
};

QTEST_MAIN(TestOptionsModel)
#include "tst_optionsmodel.moc"
