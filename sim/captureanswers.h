#pragma once

#include "capture/pcapfile.h"

#include <QString>

#include <map>
#include <memory>

// The controller's answer frames of a line capture, per message id, in their recorded order,
// read from the file as they are asked for: one reader per message id walks the file, so the
// memory taken does not grow with the capture.
class CaptureAnswers
{
public:
    // Checks the whole capture once; false with a reason when it is no line capture. A
    // damaged capture is played up to the damage, which `damage` tells.
    bool open(const QString &fileName, QString *error, QString *damage);
    // The next recorded answer frame to `msgId`; false when there is none left.
    bool next(uint8_t msgId, QByteArray *frame);

private:
    QString m_fileName;
    std::map<uint8_t, std::unique_ptr<PcapReader>> m_readers;
};
