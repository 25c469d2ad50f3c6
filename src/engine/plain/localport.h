#pragma once

#include <QtGlobal>

// Each file goes out from a local port drawn anew: 1055 + 50 r for a random r in [0, 1),
// rounded to the nearest whole number, a half going to the even one. So the ports run
// from 1055 to 1105, the two ends coming up half as often as the others.
quint16 localPortFor(float r);
