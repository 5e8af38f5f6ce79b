// The window program as kordoman runs it, with a scripted user who starts the motor:
// connects on the given port, opens the control page, answers Yes to running the device,
// enables control and sets the duty, then prints "running" once the page shows the motor
// turning. Everything after that (a terminating signal, the close, the last request) is the
// program's own. For end-to-end tests of the ways out of a running motor in a real process.
// With "box", the motor turning, a message box is opened first, with a second message
// waiting behind it, and "running" printed while the box is open.
//
//   kordo_scripted_window PORT_SPEC DATA_DIR DUTY_PERCENT [box]

#include "app/datadirectory.h"
#include "app/mainwindow.h"
#include "app/windowprogram.h"
#include "device/device.h"
#include "link/serialportprovider.h"
#include "tuning/ui/controlpage.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 4 && !(arguments.size() == 5 && arguments[4] == QLatin1String("box"))) {
        std::fprintf(stderr, "usage: kordo_scripted_window PORT_SPEC DATA_DIR DUTY_PERCENT [box]\n");
        return 2;
    }
    const int duty = arguments[3].toInt();
    const bool withBox = arguments.size() == 5;
    SerialPortProvider ports({arguments[1]});
    WindowProgram program(&ports, DataDirectory::resolve(arguments[2], {}, {}), QStringLiteral("Kordo manager"));
    MainWindow *window = program.window();

    enum class Step { Connect, Ask, Answer, Enable, Turning, BoxOpen, Done };
    Step step = Step::Connect;
    const auto reportRunning = [&step] {
        std::printf("running\n");
        std::fflush(stdout);
        step = Step::Done;
    };
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, window, [&] {
        const auto find = [&](const char *name) { return window->findChild<QWidget *>(QLatin1String(name)); };
        switch (step) {
        case Step::Connect: // the device is idle and its stored records are read
            if (window->appBase().deviceState() == DEVICE_CONNECTED
                && !window->appBase().device()->isReadBatchRunning())
                step = Step::Ask;
            break;
        case Step::Ask:
            static_cast<QToolButton *>(find("toolButtonControl"))->click();
            step = Step::Answer;
            break;
        case Step::Answer:
            for (QMessageBox *box : window->findChildren<QMessageBox *>()) {
                if (box->isVisible() && box->button(QMessageBox::Yes)) {
                    box->button(QMessageBox::Yes)->click();
                    step = Step::Enable;
                }
            }
            break;
        case Step::Enable:
            if (window->controlPage()->samplesReceived() > 0) {
                static_cast<QCheckBox *>(find("checkBoxDutyCycle"))->setChecked(true);
                static_cast<QSlider *>(find("horizontalSliderDutyCycle"))->setValue(duty);
                step = Step::Turning;
            }
            break;
        case Step::Turning:
            if (static_cast<QLineEdit *>(find("lineEditSpeed"))->text().toDouble() == 0.0)
                break;
            if (!withBox) {
                reportRunning();
                user.stop();
                break;
            }
            step = Step::BoxOpen;
            // A box runs its own event loop, in which this timer keeps running.
            QTimer::singleShot(0, window, [window] { window->on_showInfo(QStringLiteral("A message"), true); });
            break;
        case Step::BoxOpen:
            if (qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                window->on_showInfo(QStringLiteral("Another message"), true); // waits behind the open box
                reportRunning();
                user.stop();
            }
            break;
        case Step::Done:
            break;
        }
    });
    user.start(50);
    return program.exec();
}
