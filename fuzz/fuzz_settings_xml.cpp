// The settings file reader: a refused file yields nothing; an accepted one only finite
// values of known fields.
#include "device/settingsdocument.h"
#include "fuzzcheck.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const ImportedSettings settings =
        SettingsDocument::parse(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    if (settings.status != ImportedSettings::Status::Ok) {
        FUZZ_CHECK(settings.values.isEmpty());
        FUZZ_CHECK(!settings.hasMotor);
        return 0;
    }
    for (const SettingsValue &value : settings.values) {
        FUZZ_CHECK(std::isfinite(value.value));
        FUZZ_CHECK(value.field >= SettingsValue::LowLevel && value.field <= SettingsValue::KiKff);
        FUZZ_CHECK(!value.tag.isEmpty());
    }
    if (settings.hasMotor)
        FUZZ_CHECK(!settings.motor.name.isEmpty());
    return 0;
}
