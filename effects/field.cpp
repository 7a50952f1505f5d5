#include "effects/field.h"

#include "scene/random.h"

#include <algorithm>
#include <cmath>

FieldNode sources[kFieldNodeCapacity];
FieldNode sinks[kFieldNodeCapacity];
int32_t sourceCount;
int32_t sinkCount;

namespace {

// Not the exact 2 pi: the circles close where this constant puts them.
constexpr double C = 6.28318530718;

void SetTarget(FieldNode& node, float x, float y, float z) {
    node.from = node.pos;
    node.to = {x, y, z};
}

float Blend(float from, float to, float t) {
    return static_cast<float>((1.0 - t) * from + static_cast<double>(t) * to);
}

void Move(FieldNode& node, float t) {
    node.pos = {Blend(node.from.x, node.to.x, t), Blend(node.from.y, node.to.y, t),
                Blend(node.from.z, node.to.z, t)};
}

// One fresh coordinate in [-500, 500].
float U() {
    return static_cast<float>(RandomFloat(1000) - 500.0);
}

float CircleX(double radius, float angle) {
    return static_cast<float>(radius * std::cos(static_cast<double>(angle)));
}
float CircleY(double radius, float angle) {
    return static_cast<float>(radius * std::sin(static_cast<double>(angle)));
}

// Where a target has several random coordinates they are drawn z first, then y, then x.
void RandomCloud() {
    for (int i = 0; i < sourceCount; ++i) {
        const float z = U(), y = U(), x = U();
        SetSourceTarget(i, x, y, z);
    }
    for (int i = 0; i < sinkCount; ++i) {
        const float z = U(), y = U(), x = U();
        SetSinkTarget(i, x, y, z);
    }
}

// One slanted line, sources on its lower half and sinks on the upper.
void SlantedLine() {
    const float d = static_cast<float>(1000.0 / (sourceCount + sinkCount - 1));
    float p = -500;
    for (int i = 0; i < sourceCount; ++i, p = Stored(p + d))
        SetSourceTarget(i, p, 0.5f * p, 0);
    for (int i = 0; i < sinkCount; ++i, p = Stored(p + d))
        SetSinkTarget(i, p, 0.5f * p, 0);
}

// The same line with sources and sinks alternating.
void AlternatingLine() {
    const float d = static_cast<float>(1000.0 / (2 * std::max(sourceCount, sinkCount) - 1));
    float p = -500;
    for (int i = 0; i < sourceCount; ++i, p = Stored(p + 2.0 * d))
        SetSourceTarget(i, p, 0.5f * p, 0);
    p = Stored(-500 + d);
    for (int i = 0; i < sinkCount; ++i, p = Stored(p + 2.0 * d))
        SetSinkTarget(i, p, 0.5f * p, 0);
}

// Two rows, sources below and sinks above; with crossed set, the sinks' row runs along z.
void Rows(bool crossed) {
    float d = static_cast<float>(1000.0 / (2 * sourceCount - 1));
    float p = -500;
    const float sourceY = static_cast<float>(-525 + 25 * sourceCount);
    for (int i = 0; i < sourceCount; ++i, p = Stored(p + 2.0 * d))
        SetSourceTarget(i, p, sourceY, crossed ? 0.0f : -50.0f);
    d = static_cast<float>(1000.0 / (2 * sinkCount - 1));
    p = -500;
    const float sinkY = static_cast<float>(525 - 25 * sinkCount);
    for (int i = 0; i < sinkCount; ++i, p = Stored(p + 2.0 * d)) {
        if (crossed)
            SetSinkTarget(i, 10, sinkY, p);
        else
            SetSinkTarget(i, p, sinkY, 50);
    }
}

// Random on horizontal planes: one through the centre, or sources below and sinks above.
void RandomPlanes(bool split) {
    const float sourceY = split ? static_cast<float>(-525 + 25 * sourceCount) : 0.0f;
    const float sinkY = split ? static_cast<float>(525 - 25 * sinkCount) : 0.0f;
    for (int i = 0; i < sourceCount; ++i) {
        const float z = U(), x = U();
        SetSourceTarget(i, x, sourceY, z);
    }
    for (int i = 0; i < sinkCount; ++i) {
        const float z = U(), x = U();
        SetSinkTarget(i, x, sinkY, z);
    }
}

// Sources on an inner circle, sinks on an outer one.
void TwoCircles() {
    float a = 0.5f;
    for (int i = 0; i < sourceCount; ++i) {
        a = Stored(a + C / sourceCount);
        SetSourceTarget(i, CircleX(200, a), CircleY(200, a), 0);
    }
    a = 1.5f;
    for (int i = 0; i < sinkCount; ++i) {
        a = Stored(a + C / sinkCount);
        SetSinkTarget(i, CircleX(500, a), CircleY(500, a), 0);
    }
}

// One circle, sources on one arc and sinks on the next.
void SharedCircle() {
    const double step = C / (sourceCount + sinkCount);
    float a = 0.5f;
    for (int i = 0; i < sourceCount; ++i) {
        a = Stored(a + step);
        SetSourceTarget(i, CircleX(500, a), CircleY(500, a), 0);
    }
    for (int i = 0; i < sinkCount; ++i) {
        a = Stored(a + step);
        SetSinkTarget(i, CircleX(500, a), CircleY(500, a), 0);
    }
}

// One circle with sources and sinks alternating.
void AlternatingCircle() {
    const float s = static_cast<float>(C / (2 * std::max(sourceCount, sinkCount)));
    float a = 0.5f;
    for (int i = 0; i < sourceCount; ++i, a = Stored(a + 2.0 * s))
        SetSourceTarget(i, CircleX(500, a), CircleY(500, a), 0);
    a = Stored(0.5f + s);
    for (int i = 0; i < sinkCount; ++i, a = Stored(a + 2.0 * s))
        SetSinkTarget(i, CircleX(500, a), CircleY(500, a), 0);
}

// All sources at one point, all sinks at the opposite one.
void TwoPoints() {
    for (int i = 0; i < sourceCount; ++i)
        SetSourceTarget(i, 500, 100, 50);
    for (int i = 0; i < sinkCount; ++i)
        SetSinkTarget(i, -500, -100, -50);
}

} // namespace

void SetSourceTarget(int32_t i, float x, float y, float z) {
    SetTarget(sources[i], x, y, z);
}
void SetSinkTarget(int32_t i, float x, float y, float z) {
    SetTarget(sinks[i], x, y, z);
}
void MoveSource(int32_t i, float t) {
    Move(sources[i], t);
}
void MoveSink(int32_t i, float t) {
    Move(sinks[i], t);
}

void SetFormation(int32_t k) {
    switch (k) {
    case 0:
        RandomCloud();
        break;
    case 1:
        SlantedLine();
        break;
    case 2:
        AlternatingLine();
        break;
    case 3:
        Rows(false);
        break;
    case 4:
        Rows(true);
        break;
    case 5:
        RandomPlanes(false);
        break;
    case 6:
        RandomPlanes(true);
        break;
    case 7:
        TwoCircles();
        break;
    case 8:
        SharedCircle();
        break;
    case 9:
        AlternatingCircle();
        break;
    case 10:
        TwoPoints();
        break;
    default:
        break;
    }
}
