// Takes the README's screenshot: the window in demo mode on the ESC settings page, drawn
// headless (QT_QPA_PLATFORM=offscreen) and saved as a PNG. Run by hand:
//   build/tests/kordo_screenshot docs/screenshot.png
#include "app/demoportprovider.h"
#include "ui/embeddedfonts.h"
#include "app/mainwindow.h"
#include "tests/common/scripteddialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        QTextStream(stderr) << "usage: kordo_screenshot OUTPUT.png" << Qt::endl;
        return 2;
    }
    EmbeddedFonts::registerAll();
    QTemporaryDir dir;
    DemoPortProvider ports;
    ScriptedDialogs dialogs;
    MainWindow window(&ports, DataDirectory::resolve(dir.path(), QString(), QString()), &dialogs);
    window.setWindowTitle(QStringLiteral("Kordo manager  1.1.0"));
    window.resize(1180, 760);
    window.show();

    auto *connection = window.findChild<QAbstractButton *>(QStringLiteral("pushButtonStateConnection"));
    QDeadlineTimer deadline(60000);
    while (connection->text() != QLatin1String("Connected") && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    window.findChild<QAbstractButton *>(QStringLiteral("toolButtonEscParams"))->click();
    window.findChild<QAbstractButton *>(QStringLiteral("pushButtonGetRes"))->click();
    window.findChild<QAbstractButton *>(QStringLiteral("pushButtonGetData"))->click();
    QDeadlineTimer settle(3000);
    while (!settle.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (connection->text() != QLatin1String("Connected"))
        return 1;
    return window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
