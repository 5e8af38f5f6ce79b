#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// The master side of a pseudo-terminal: the host program opens the slave side as
// if it were a serial port. Non-blocking in both directions.
class PtyLink : public QObject
{
    Q_OBJECT

public:
    explicit PtyLink(QObject *parent = nullptr);
    ~PtyLink() override;

    bool open(QString *error);
    void close();
    QString slavePath() const { return m_slavePath; }
    void write(const QByteArray &bytes);

signals:
    void received(const QByteArray &bytes);

private:
    void readAvailable();
    void writePending();

    int m_master = -1;
    int m_slaveKeeper = -1; // keeps the slave open so the master never reads EIO between hosts
    QString m_slavePath;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QByteArray m_pending;
};
