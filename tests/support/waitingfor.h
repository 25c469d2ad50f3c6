#pragma once

#include "station/station.h"

#include <QHostAddress>

// The delivery waiting for address at station, or none.
inline const WaitingBatches::Batch* waitingFor(const Station& station, const QHostAddress& address)
{
    for (const WaitingBatches::Batch& batch : station.waitingBatches())
        if (batch.address == address.toString())
            return &batch;
    return nullptr;
}
