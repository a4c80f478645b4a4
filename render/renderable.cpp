#include "render/renderable.h"

bool Renderable::HasBounds() const { return false; }

void Renderable::Hide() { hidden_ = true; }

bool Renderable::QueryInterface(int32_t id, void** out) { return AnswerQuery<Renderable>(this, id, out); }
