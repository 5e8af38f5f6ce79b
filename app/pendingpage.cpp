#include "app/pendingpage.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

PendingPage::PendingPage(const QString &objectName, const QString &title, QWidget *parent)
    : QWidget(parent), m_title(title), m_label(new QLabel(this))
{
    setObjectName(objectName);
    m_label->setObjectName(objectName + QStringLiteral("Coming"));
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setWordWrap(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    retranslate();
}

void PendingPage::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QWidget::changeEvent(event);
}

void PendingPage::retranslate()
{
    m_label->setText(tr("%1: coming in a later version of the program.")
                         .arg(QCoreApplication::translate("PendingPage", m_title.toUtf8().constData())));
}
