#pragma once

#include <random>

// Uniform numbers in [0, 1). The real generator is never seeded, so every run of the
// program draws the same sequence.
class RandomSource
{
public:
    virtual ~RandomSource() = default;
    virtual float next() = 0;
};

class UnseededRandom : public RandomSource
{
public:
    float next() override;

private:
    std::mt19937 engine_; // default-constructed: the fixed standard seed
    std::uniform_real_distribution<float> uniform_{0.0f, 1.0f};
};
