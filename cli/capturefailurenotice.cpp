#include "cli/capturefailurenotice.h"

#include "capture/linerecorder.h"
#include "cli/jsonlines.h"

#include <QTextStream>

CaptureFailureNotice::CaptureFailureNotice(LineRecorder *recorder, const QString &fileName, bool json,
                                           QTextStream &out, QTextStream &err)
    : m_recorder(recorder), m_fileName(fileName), m_json(json), m_out(out), m_err(err)
{
    connect(recorder, &LineRecorder::captureFailed, this, &CaptureFailureNotice::tell);
}

void CaptureFailureNotice::finish()
{
    m_recorder->stopCapture();
    tell(m_recorder->captureError()); // the last write may have failed after the last event
}

void CaptureFailureNotice::tell(const QString &reason)
{
    if (m_told || reason.isEmpty())
        return;
    m_told = true;
    const QString message =
        tr("The capture file %1 cannot be written on: %2. The run goes on without it; the file holds the line "
           "up to that moment.")
            .arg(m_fileName, reason);
    if (m_json)
        JsonLines::write(m_out, JsonLines::captureFailed(m_fileName, message));
    m_err << message << Qt::endl;
}
