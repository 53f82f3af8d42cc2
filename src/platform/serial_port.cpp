#include "platform/serial_port.h"

namespace kqm::platform {

int baudRateOfSettings(const QString& settings) {
    bool ok = false;
    const int rate = settings.section(QLatin1Char(','), 0, 0).trimmed().toInt(&ok);
    return ok && rate > 0 ? rate : 0;
}

} // namespace kqm::platform
