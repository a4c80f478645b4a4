// The root of the engine's containers and of several engine objects: exactly two virtual
// operations, Clear and the (deleting) destructor.
#pragma once

class MapBase {
public:
    virtual void Clear() = 0;
    virtual ~MapBase() = default;

protected:
    MapBase() = default;
    MapBase(const MapBase&) = default;
    MapBase& operator=(const MapBase&) = default;
};
