// A settings backup file of any content: either refused, leaving the snapshot as it was, or
// read as a snapshot that has what a restore needs and that, written again, reads back the same.
#include "fuzzcheck.h"
#include "device/settingssnapshots.h"
#include "wire/motortotal.h"
#include "wire/records.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    SettingsSnapshot snapshot;
    snapshot.serialNumber = QStringLiteral("untouched");
    if (!SettingsSnapshot::fromFileText(text, &snapshot)) {
        FUZZ_CHECK(snapshot.serialNumber == QLatin1String("untouched") && !snapshot.time.isValid());
        return 0;
    }
    FUZZ_CHECK(!snapshot.serialNumber.isEmpty() && snapshot.time.isValid());
    FUZZ_CHECK(snapshot.pwmIn.isEmpty() || snapshot.pwmIn.size() == SET_PWM_IN_PARAMS::WIRE_SIZE);
    FUZZ_CHECK(snapshot.motion.isEmpty() || snapshot.motion.size() == SET_MOTION_PARAMS::WIRE_SIZE);
    FUZZ_CHECK(snapshot.motor.isEmpty() || snapshot.motor.size() == MOTOR_TOTAL::SIZE);

    const QByteArray written = snapshot.toFileText();
    SettingsSnapshot again;
    FUZZ_CHECK(SettingsSnapshot::fromFileText(written, &again));
    FUZZ_CHECK(again.serialNumber == snapshot.serialNumber && again.firmware == snapshot.firmware
               && again.reason == snapshot.reason && again.pwmIn == snapshot.pwmIn && again.motion == snapshot.motion
               && again.motor == snapshot.motor && again.motorName == snapshot.motorName);
    FUZZ_CHECK(again.toFileText() == written);
    return 0;
}
