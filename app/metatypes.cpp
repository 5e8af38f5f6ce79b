#include "app/metatypes.h"

#include "wire/records.h"
#include "link/comhelper.h"
#include "wire/vyxprotocol.h"
#include "wire/motortotal.h"

#include <QMetaType>
#include <QObject> // the Qt namespace meta-object behind Qt::CheckState

#include <cstdint>

void registerApplicationMetaTypes()
{
    // Once, whichever thread comes first (several coordinators start at once).
    static const bool registered = [] {
        registerDeviceRecordMetaTypes();
        registerLinkMetaTypes();
        qRegisterMetaType<uint8_t>("uint8_t");
        qRegisterMetaType<int8_t>("int8_t");
        qRegisterMetaType<uint16_t>("uint16_t");
        qRegisterMetaType<int16_t>("int16_t");
        qRegisterMetaType<uint32_t>("uint32_t");
        qRegisterMetaType<Qt::CheckState>("Qt::CheckState");
        qRegisterMetaType<VYX_Protocol::VYX_MSG>("VYX_Protocol::VYX_MSG");
        qRegisterMetaType<MOTOR_TOTAL>("MOTOR_TOTAL");
        return true;
    }();
    Q_UNUSED(registered)
}
