#include "plain/localport.h"

#include <cmath>

quint16 localPortFor(float r)
{
    // nearbyint rounds in the default mode: to nearest, halves to even.
    return quint16(1055 + int(std::nearbyint(50.0f * r)));
}
