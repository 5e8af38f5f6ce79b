#pragma once

#include <QObject>
#include <QString>

class LineRecorder;
class QTextStream;

// A command's capture file that cannot be written on (a full disk): told once, on stderr
// and with --json as a {"event":"capture",…} line; the command goes on without it. Lives in
// the main thread; the recorder's signal reaches it from the thread whose write failed.
class CaptureFailureNotice : public QObject
{
    Q_OBJECT

public:
    CaptureFailureNotice(LineRecorder *recorder, const QString &fileName, bool json, QTextStream &out,
                         QTextStream &err);
    // Ends the capture (its last records written) and tells a failure not told yet.
    void finish();

private:
    void tell(const QString &reason);

    LineRecorder *m_recorder;
    QString m_fileName;
    bool m_json;
    QTextStream &m_out;
    QTextStream &m_err;
    bool m_told = false;
};
