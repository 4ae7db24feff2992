#pragma once
// The one QApplication of a test binary, created on first use. It is never destroyed:
// tearing Qt down during static destruction races with Qt's own globals. Without a
// display the offscreen platform is used (the test harness sets it too).

#include <QApplication>
#include <QByteArray>
#include <QString>

inline QApplication& QtTestApplication()
{
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
        static int argc = 1;
        static char name[] = "updater-test";
        static char* argv[] = {name, nullptr};
        // The offscreen platform says these for every dialog it shows and every window it is
        // asked to raise; they are no findings.
        static QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                if (message.startsWith(QLatin1String("This plugin does not support propagateSizeHints")) ||
                    message.startsWith(QLatin1String("This plugin does not support raise()")))
                    return;
                if (previous)
                    previous(type, context, message);
            });
        return new QApplication(argc, argv);
    }();
    return *app;
}
