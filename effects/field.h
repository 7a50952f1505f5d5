// The field's sources and sinks and the eleven formations they glide between. A node sits at
// (1 - t) * from + t * to for the last blend value t passed to it; a new formation starts every
// node from wherever it is.
#pragma once

#include "effects/vecmath.h"

#include <cstdint>

struct FieldNode {
    Vec3 pos;  // where the node is now
    Vec3 from; // where its current move started
    Vec3 to;   // where its current move ends
};

// Room for more nodes than the scene uses; the counts say how many are live.
inline constexpr int kFieldNodeCapacity = 16;

extern FieldNode sources[kFieldNodeCapacity];
extern FieldNode sinks[kFieldNodeCapacity];
extern int32_t sourceCount;
extern int32_t sinkCount;

void SetSourceTarget(int32_t i, float x, float y, float z);
void SetSinkTarget(int32_t i, float x, float y, float z);
void MoveSource(int32_t i, float t);
void MoveSink(int32_t i, float t);
// Gives every source, then every sink, its target in formation k (0 to 10); any other k changes
// nothing.
void SetFormation(int32_t k);
