#include "app/metatypes.h"

#include "wire/records.h"
#include "link/comhelper.h"
#include "wire/motortotal.h"

#include <QMetaType>

#include <cstdint>

void registerApplicationMetaTypes()
{
    // Once, whichever thread comes first (several coordinators start at once).
    static const bool registered = [] {
        registerDeviceRecordMetaTypes(); // the records, the fixed-width integers, the check state
        registerLinkMetaTypes();
        qRegisterMetaType<int8_t>("int8_t");
        qRegisterMetaType<MOTOR_TOTAL>("MOTOR_TOTAL");
        return true;
    }();
    Q_UNUSED(registered)
}
