#include "platform/randomsource.h"

float UnseededRandom::next()
{
    return uniform_(engine_);
}
