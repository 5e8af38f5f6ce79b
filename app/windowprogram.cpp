#include "app/windowprogram.h"

#include "app/datadirectory.h"
#include "app/mainwindow.h"
#include "app/windowtermination.h"
#include "ui/embeddedfonts.h"

#include <QApplication>
#include <QIcon>

WindowProgram::WindowProgram(PortProvider *ports, const DataDirectory &dataDirectory, const QString &title)
    : m_window(std::make_unique<MainWindow>(ports, dataDirectory, &m_dialogs))
{
    m_dialogs.setParent(m_window.get());
    EmbeddedFonts::registerAll();
    m_window->setWindowIcon(QIcon(QStringLiteral(":/icons/symbol.png")));
    m_window->setWindowTitle(title);
    closeWindowOnTermination(&m_terminationSignals, m_window.get(), [this] {
        m_terminated = true;
        m_dialogs.closeForGood();
    });
    if (!dataDirectory.isValid())
        m_dialogs.message(UserDialogs::Icon::Critical, m_window->windowTitle(), dataDirectory.errorString());
}

WindowProgram::~WindowProgram() = default;

void WindowProgram::refuse(const QString &problem)
{
    m_dialogs.message(UserDialogs::Icon::Critical, m_window->windowTitle(), problem);
}

int WindowProgram::exec()
{
    int result = 0;
    // Ended while a box was shown before the window: as if closed at once.
    if (!m_terminated) {
        m_window->show();
        result = QApplication::exec();
    }
    m_window.reset(); // the window (and the coordinator) before the ports it uses
    return result;
}
