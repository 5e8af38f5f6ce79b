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
    if (!dataDirectory.isValid())
        m_dialogs.message(UserDialogs::Icon::Critical, m_window->windowTitle(), dataDirectory.errorString());
    closeWindowOnTermination(&m_terminationSignals, m_window.get());
}

WindowProgram::~WindowProgram() = default;

void WindowProgram::refuse(const QString &problem)
{
    m_dialogs.message(UserDialogs::Icon::Critical, m_window->windowTitle(), problem);
}

int WindowProgram::exec()
{
    m_window->show();
    const int result = QApplication::exec();
    m_window.reset(); // the window (and the coordinator) before the ports it uses
    return result;
}
