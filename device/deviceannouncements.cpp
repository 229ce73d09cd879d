#include "deviceannouncements.h"

bool DeviceAnnouncements::announce(int argument, const QString& key) {
    int& told = m_told[key];
    if (told == argument)
        return false;
    told = argument;
    return true;
}
