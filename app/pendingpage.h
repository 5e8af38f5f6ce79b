#pragma once

#include <QWidget>

class QLabel;

// Stands in for a page whose work is not in the program yet: it says so, and does nothing.
class PendingPage : public QWidget
{
    Q_OBJECT

public:
    PendingPage(const QString &objectName, const QString &title, QWidget *parent = nullptr);

protected:
    void changeEvent(QEvent *event) override;

private:
    void retranslate();

    QString m_title; // untranslated source text
    QLabel *m_label;
};
