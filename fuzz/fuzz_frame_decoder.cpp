// The frame decoder on any byte stream, with the message records decoded from every frame.
#include "fuzzcheck.h"
#include "wire/motortotal.h"
#include "wire/records.h"
#include "wire/vyxprotocol.h"

#include <cstddef>
#include <cstdint>

namespace {

template<typename Record>
void checkRoundTrip(const QByteArray &payload)
{
    const Record record = Record::unpack(payload);
    if (payload.size() >= Record::WIRE_SIZE)
        FUZZ_CHECK(record.pack() == payload.left(Record::WIRE_SIZE));
}

void decodeRecords(const QByteArray &payload)
{
    const auto *data = reinterpret_cast<const uint8_t *>(payload.constData());
    DeviceIdentity::decode(payload);
    const StatusBlock status = StatusBlock::decode(payload);
    FUZZ_CHECK(status.endIndex <= payload.size());
    DutyCommand::decode(payload);
    ONLINE_QUANTS_S sample;
    TelemetryRecord::unpack(payload).decodeInto(sample);
    checkRoundTrip<TelemetryRecord>(payload);
    checkRoundTrip<SET_PWM_IN_PARAMS>(payload);
    checkRoundTrip<SET_MOTION_PARAMS>(payload);
    checkRoundTrip<ERROR_WARN_LOG>(payload);
    checkRoundTrip<RUN_DATA>(payload);
    checkRoundTrip<RESISTANCE>(payload);
    unpackMotorHours(data, payload.size());
    MOTOR_TOTAL motor;
    motor.unpackIdent(payload);
    motor.unpackUser(payload);
}

// A good frame re-encodes to bytes that decode to the same frame.
void checkReencodes(const VYX_Protocol::VYX_MSG &frame)
{
    FUZZ_CHECK(frame.length <= uint32_t(VYX_Protocol::MAX_MSG_PAYLOAD));
    VYX_Protocol encoder;
    const QByteArray bytes = encoder.encode(frame.address, frame.msgId, frame.payloadBytes());
    FUZZ_CHECK(!bytes.isEmpty());

    VYX_Protocol decoder;
    VYX_Protocol::VyxRxConfig config;
    VYX_Protocol::VYX_MSG again;
    int frames = 0;
    for (char byte : bytes) {
        if (decoder.decodeByte(uint8_t(byte), again, config)) {
            ++frames;
            FUZZ_CHECK(again.status == VYX_Protocol::Good);
            FUZZ_CHECK(again.address == frame.address && again.msgId == frame.msgId);
            FUZZ_CHECK(again.payloadBytes() == frame.payloadBytes());
            FUZZ_CHECK(again.checksum == frame.checksum);
        }
    }
    FUZZ_CHECK(frames == 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    VYX_Protocol codec;
    VYX_Protocol::VyxRxConfig config;
    VYX_Protocol::VYX_MSG frame;
    for (size_t i = 0; i < size; ++i) {
        if (!codec.decodeByte(data[i], frame, config) || frame.status != VYX_Protocol::Good)
            continue;
        checkReencodes(frame);
        decodeRecords(frame.payloadBytes());
    }
    return 0;
}
