#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTest>

// The real program, started where there is no display at all: what it answers to the
// informational options and to a command line it does not know.
class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void answersWithoutADisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("standardOutput"); // how it starts
        QTest::addColumn<QString>("standardError");

        const QString usage = "usage: morvane [OPTION]...\n";
        QTest::newRow("--help") << QStringList{"--help"} << 0 << usage << QString();
        QTest::newRow("--version") << QStringList{"--version"} << 0
                                   << QString("morvane " MORVANE_VERSION "\n") << QString();
        QTest::newRow("unknown option") << QStringList{"--no-such-option"} << 2 << QString()
                                        << "morvane: unknown option '--no-such-option'\n\n" + usage;
        QTest::newRow("bad latency") << QStringList{"--latency=fast"} << 2 << QString()
                                     << "morvane: --latency must be low or classic\n\n" + usage;
        QTest::newRow("JACK with the classic mode")
            << QStringList{"--latency", "classic", "--audio", "jack"} << 2 << QString()
            << "morvane: --audio and --no-connect go with --latency=low only\n\n" + usage;
        for (const char* channel : {"--midi-channel=0", "--midi-channel=17", "--midi-channel=1x"})
            QTest::newRow(channel)
                << QStringList{channel} << 2 << QString()
                << "morvane: --midi-channel must be a number from 1 to 16\n\n" + usage;
        QTest::newRow("unknown language") << QStringList{"--lang=fr"} << 2 << QString()
                                          << "morvane: --lang must be ja or en\n\n" + usage;
        // A start without a display says so in one line instead of letting Qt abort.
        QTest::newRow("no display") << QStringList{} << 1 << QString()
                                    << "morvane: no display to show the window on (DISPLAY is "
                                       "not set); start Morvane in a desktop session\n";
        QTest::newRow("display that does not answer")
            << QStringList{"DISPLAY=:987"} << 1 << QString()
            << "morvane: cannot open the display \":987\"; start Morvane in a desktop session "
               "that can reach it\n";
        QTest::newRow("X named as the platform")
            << QStringList{"QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY=wayland-9"} << 1 << QString()
            << "morvane: no display";
    }
    void answersWithoutADisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, standardOutput);
        QFETCH(QString, standardError);

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        // Leading NAME=VALUE entries set the program's environment, as a shell would.
        static const QRegularExpression assignment("^[A-Z_]+=");
        while (!arguments.isEmpty() && assignment.match(arguments.first()).hasMatch()) {
            const QString entry = arguments.takeFirst();
            const qsizetype equals = entry.indexOf('=');
            environment.insert(entry.left(equals), entry.mid(equals + 1));
        }
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(MORVANE_PROGRAM, arguments);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), exitCode);
        const QString out = QString::fromUtf8(program.readAllStandardOutput());
        const QString err = QString::fromUtf8(program.readAllStandardError());
        QVERIFY2(standardOutput.isEmpty() ? out.isEmpty() : out.startsWith(standardOutput),
                 qPrintable(out));
        QVERIFY2(standardError.isEmpty() ? err.isEmpty() : err.startsWith(standardError),
                 qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "command_line_test.moc"
