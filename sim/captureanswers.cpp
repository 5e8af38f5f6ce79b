#include "sim/captureanswers.h"

#include "wire/vyxprotocol.h"

namespace {

// The message id of the frame a record holds; false when it holds none.
bool frameId(const QByteArray &bytes, uint8_t *msgId)
{
    VYX_Protocol codec;
    VYX_Protocol::VyxRxConfig config;
    VYX_Protocol::init(config, 0, 255);
    VYX_Protocol::VYX_MSG msg;
    for (char c : bytes) {
        if (codec.decodeByte(uint8_t(c), msg, config)) {
            *msgId = msg.msgId;
            return true;
        }
    }
    return false;
}

} // namespace

bool CaptureAnswers::open(const QString &fileName, QString *error, QString *damage)
{
    m_fileName = fileName;
    m_readers.clear();
    PcapReader reader;
    if (!reader.open(fileName, error))
        return false;
    LineCapture::Record record;
    while (reader.next(&record)) {
    }
    *damage = reader.damage();
    return true;
}

bool CaptureAnswers::next(uint8_t msgId, QByteArray *frame)
{
    std::unique_ptr<PcapReader> &reader = m_readers[msgId];
    if (!reader) {
        reader = std::make_unique<PcapReader>();
        QString error;
        if (!reader->open(m_fileName, &error))
            return false;
    }
    LineCapture::Record record;
    while (reader->next(&record)) {
        uint8_t id = 0;
        if (record.direction == LineCapture::Direction::FromController && record.kind == LineCapture::Kind::Frame
            && frameId(record.bytes, &id) && id == msgId) {
            *frame = record.bytes;
            return true;
        }
    }
    return false;
}
