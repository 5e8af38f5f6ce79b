#pragma once

#include "link/portdoctor.h"

// A machine as the test describes it: one device file with its owner group, access and
// holders.
struct FakePortSystem : PortSystem
{
    QString path = QStringLiteral("/dev/ttyUSB0");
    bool present = true;
    bool accessible = true;
    QString group = QStringLiteral("dialout");
    bool listedInGroup = false;
    QStringList holderNames;

    bool exists(const QString &devicePath) const override { return present && devicePath == path; }
    bool isAccessible(const QString &devicePath) const override { return accessible && devicePath == path; }
    QString owningGroup(const QString &) const override { return group; }
    bool userIsListedInGroup(const QString &name) const override { return listedInGroup && name == group; }
    QStringList holders(const QString &) const override { return holderNames; }
};
