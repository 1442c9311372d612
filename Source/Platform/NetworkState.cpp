#include "NetworkState.h"

#include <QNetworkInformation>
#include <QNetworkInterface>

namespace {

bool AnyInterfaceConnected()
{
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        const auto flags = i.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        if (!i.addressEntries().isEmpty()) return true;
    }
    return false;
}

} // namespace

bool IsNetworkConnected()
{
    // Loading the backend is remembered by Qt; a failed load is cheap to repeat.
    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        switch (QNetworkInformation::instance()->reachability()) {
        case QNetworkInformation::Reachability::Disconnected:
            return false;
        case QNetworkInformation::Reachability::Local:
        case QNetworkInformation::Reachability::Site:
        case QNetworkInformation::Reachability::Online:
            return true;
        case QNetworkInformation::Reachability::Unknown:
            break;
        }
    }
    return AnyInterfaceConnected();
}
