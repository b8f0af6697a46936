#include "eventdispatcherchoice.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QTest>

#include <vector>

// Which runs get Qt's own event dispatcher instead of GLib's.
class tst_EventDispatcherChoice : public QObject
{
    Q_OBJECT

private:
    // Runs `check` with QT_QPA_PLATFORM / QT_NO_GLIB as given ("<unset>": not set), then
    // puts the test's own environment back.
    template <typename Check>
    static void withEnvironment(const QByteArray &platform, const QByteArray &noGlib, Check check)
    {
        const QByteArray savedPlatform = qgetenv("QT_QPA_PLATFORM");
        const bool platformWasSet = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
        const auto set = [](const char *name, const QByteArray &value) {
            if (value == "<unset>")
                qunsetenv(name);
            else
                qputenv(name, value);
        };
        set("QT_QPA_PLATFORM", platform);
        set("QT_NO_GLIB", noGlib);
        check();
        qunsetenv("QT_NO_GLIB");
        if (platformWasSet)
            qputenv("QT_QPA_PLATFORM", savedPlatform);
        else
            qunsetenv("QT_QPA_PLATFORM");
    }

private slots:
    void offscreenPlatform_data()
    {
        QTest::addColumn<QByteArray>("environment"); // QT_QPA_PLATFORM
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<bool>("offscreen");

        QTest::newRow("environment") << QByteArray("offscreen") << QByteArrayList{} << true;
        QTest::newRow("environment with options")
            << QByteArray("offscreen:fontconfig") << QByteArrayList{} << true;
        QTest::newRow("a screen") << QByteArray("xcb") << QByteArrayList{} << false;
        QTest::newRow("nothing chosen") << QByteArray("<unset>") << QByteArrayList{} << false;
        QTest::newRow("a name that only begins alike")
            << QByteArray("offscreenish") << QByteArrayList{} << false;
        QTest::newRow("command line wins over the environment")
            << QByteArray("xcb") << QByteArrayList{"-platform", "offscreen"} << true;
        QTest::newRow("double dash")
            << QByteArray("<unset>") << QByteArrayList{"--platform", "offscreen"} << true;
        QTest::newRow("command line asks for a screen")
            << QByteArray("offscreen") << QByteArrayList{"-platform", "wayland"} << false;
        QTest::newRow("the last one counts")
            << QByteArray("<unset>")
            << QByteArrayList{"-platform", "xcb", "--speed", "2", "-platform", "offscreen"} << true;
        QTest::newRow("option without a value is no choice")
            << QByteArray("offscreen") << QByteArrayList{"-platform"} << true;
        QTest::newRow("other options")
            << QByteArray("<unset>") << QByteArrayList{"--headless", "--speed", "20"} << false;
    }

    void offscreenPlatform()
    {
        QFETCH(QByteArray, environment);
        QFETCH(QByteArrayList, arguments);
        QFETCH(bool, offscreen);
        QByteArrayList storage{"vorlak"};
        storage += arguments;
        std::vector<char *> argv;
        for (QByteArray &argument : storage)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        withEnvironment(environment, "<unset>", [&] {
            QCOMPARE(offscreenPlatformChosen(int(storage.size()), argv.data()), offscreen);
        });
    }

    void qtDispatcherOnlyWhereNobodyChoseOne_data()
    {
        QTest::addColumn<bool>("offscreen");
        QTest::addColumn<QByteArray>("noGlib"); // QT_NO_GLIB before
        QTest::addColumn<bool>("setHere");
        QTest::addColumn<QByteArray>("noGlibAfter");

        QTest::newRow("offscreen") << true << QByteArray("<unset>") << true << QByteArray("1");
        QTest::newRow("with a screen: GLib")
            << false << QByteArray("<unset>") << false << QByteArray("<unset>");
        QTest::newRow("asked for GLib (set, empty)")
            << true << QByteArray("") << false << QByteArray("");
        QTest::newRow("asked for Qt's own already")
            << true << QByteArray("yes") << false << QByteArray("yes");
    }

    void qtDispatcherOnlyWhereNobodyChoseOne()
    {
        QFETCH(bool, offscreen);
        QFETCH(QByteArray, noGlib);
        QFETCH(bool, setHere);
        QFETCH(QByteArray, noGlibAfter);
        withEnvironment("<unset>", noGlib, [&] {
            QCOMPARE(preferQtEventDispatcher(offscreen), setHere);
            const QByteArray after =
                qEnvironmentVariableIsSet("QT_NO_GLIB") ? qgetenv("QT_NO_GLIB") : "<unset>";
            QCOMPARE(after, noGlibAfter);
        });
    }
};

QTEST_GUILESS_MAIN(tst_EventDispatcherChoice)
#include "tst_eventdispatcherchoice.moc"
