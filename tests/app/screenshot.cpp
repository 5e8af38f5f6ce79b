// Takes the README's screenshots: the window in demo mode, drawn headless
// (QT_QPA_PLATFORM=offscreen) and saved as PNG files. Run by hand, or by the target
// "screenshots", which writes them into docs/:
//   build/tests/kordo_screenshot docs/screenshot.png   the settings page only
//   build/tests/kordo_screenshot docs/                 every page: screenshot-<page>.png
// The control page is taken with the motor stopped by a stall, its notice showing, at the
// window's own size and at 1024 x 640 (screenshot-control-small.png).
#include "app/demoportprovider.h"
#include "ui/embeddedfonts.h"
#include "app/mainwindow.h"
#include "sim/simulatedcontroller.h"
#include "tests/common/scripteddialogs.h"
#include "tuning/ui/controlpage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QSlider>
#include <QPushButton>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <functional>

namespace {

void settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

void click(MainWindow &window, const char *name)
{
    if (auto *button = window.findChild<QAbstractButton *>(QLatin1String(name)))
        button->click();
}

bool waitFor(const std::function<bool()> &condition, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return condition();
}

// The control page with the controller running and a stall reported: the notice shows.
bool showStopNotice(MainWindow &window, DemoPortProvider &ports)
{
    auto *connection = window.findChild<QAbstractButton *>(QStringLiteral("pushButtonStateConnection"));
    const auto runQuestion = [&window]() -> QMessageBox * {
        for (QMessageBox *box : window.findChildren<QMessageBox *>()) {
            if (box->isVisible() && box->button(QMessageBox::Yes))
                return box;
        }
        return nullptr;
    };
    if (!waitFor([&] { return runQuestion() != nullptr; }, 10000)) {
        QTextStream(stderr) << "no question to run the controller" << Qt::endl;
        return false;
    }
    runQuestion()->button(QMessageBox::Yes)->click();
    if (!waitFor([&] { return connection->text() == QLatin1String("Running")
                              && window.controlPage()->samplesReceived() > 40; }, 20000)) {
        QTextStream(stderr) << "the controller does not run" << Qt::endl;
        return false;
    }
    // A stall is reported while control is on (control off acknowledges it at once).
    auto *enable = window.findChild<QCheckBox *>(QStringLiteral("checkBoxDutyCycle"));
    auto *duty = window.findChild<QSlider *>(QStringLiteral("horizontalSliderDutyCycle"));
    auto *speed = window.findChild<QLineEdit *>(QStringLiteral("lineEditSpeed"));
    enable->setChecked(true);
    duty->setValue(40);
    if (!waitFor([&] { return speed->text().toDouble() > 1000.0; }, 20000)) {
        QTextStream(stderr) << "the motor does not turn" << Qt::endl;
        return false;
    }
    SimulatedController *controller = ports.controller(); // made with the port, in the coordinator's thread
    QMetaObject::invokeMethod(controller, [controller] { controller->firmware().injectStall(); });
    if (!waitFor([&] { return !window.controlPage()->stopNotice().isEmpty(); }, 10000)) {
        QTextStream(stderr) << "no stall reported" << Qt::endl;
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        QTextStream(stderr) << "usage: kordo_screenshot OUTPUT.png | OUTPUT_DIRECTORY/" << Qt::endl;
        return 2;
    }
    EmbeddedFonts::registerAll();
    QTemporaryDir dir;
    DemoPortProvider ports;
    ScriptedDialogs dialogs;
    MainWindow window(&ports, DataDirectory::resolve(dir.path(), QString(), QString()), &dialogs);
    window.setWindowTitle(QStringLiteral("Kordo manager  1.1.0"));
    window.show();

    auto *connection = window.findChild<QAbstractButton *>(QStringLiteral("pushButtonStateConnection"));
    QDeadlineTimer deadline(60000);
    while (connection->text() != QLatin1String("Connected") && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (connection->text() != QLatin1String("Connected"))
        return 1;
    // The window's own size, larger than the headless screen: set once the window has
    // been fitted to that screen after showing.
    window.resize(1180, 760);
    click(window, "toolButtonEscParams");
    click(window, "pushButtonGetRes");
    click(window, "pushButtonGetData");
    settle(3000);

    const QString target = QString::fromLocal8Bit(argv[1]);
    if (!QFileInfo(target).isDir() && !target.endsWith(QLatin1Char('/')))
        return window.grab().save(target) ? 0 : 1;

    QDir out(target);
    if (!out.mkpath(QStringLiteral(".")))
        return 1;
    const struct
    {
        const char *button;
        const char *file;
    } pages[] = {
        {"toolButtonEscParams", "screenshot-settings.png"},
        {"toolButtonMotorParams", "screenshot-motor.png"},
        {"toolButtonFirmware", "screenshot-firmware.png"},
        {"toolButtonControl", "screenshot-control.png"}, // last: it leaves the controller running
    };
    for (const auto &page : pages) {
        click(window, page.button);
        settle(1500);
        if (QLatin1String(page.button) == QLatin1String("toolButtonControl") && !showStopNotice(window, ports))
            return 1;
        if (!window.grab().save(out.filePath(QLatin1String(page.file))))
            return 1;
        if (QLatin1String(page.button) == QLatin1String("toolButtonControl")) {
            window.resize(1024, 640);
            settle(1500);
            const bool saved = window.grab().save(out.filePath(QStringLiteral("screenshot-control-small.png")));
            window.resize(1180, 760);
            if (!saved)
                return 1;
        }
    }
    return 0;
}
