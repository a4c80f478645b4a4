#include "scene/transform_animation.h"

void TransformSourceList::Add(TransformSource* source) {
    // Append places after the cursor; from the last node that is the end of the ring.
    if (sources_.count() > 0) sources_.SetCursor(sources_.first()->prev);
    sources_.Append(source);
}

bool TransformSourceList::GetMatrix(float time, TypedMatrix& out) {
    bool any = false;
    const LinkedList<TransformSource*>::Node* node = sources_.first();
    for (int32_t i = 0; i < sources_.count(); ++i, node = node->next) {
        TypedMatrix m;
        if (!node->element->GetMatrix(time, m)) continue;
        out = any ? MultiplyMatrices(out, m) : m;
        any = true;
    }
    return any;
}

bool TransformSourceList::GetTimeRange(TimeRange& range) {
    bool any = false;
    const LinkedList<TransformSource*>::Node* node = sources_.first();
    for (int32_t i = 0; i < sources_.count(); ++i, node = node->next) {
        TimeRange r;
        if (!node->element->GetTimeRange(r)) continue;
        range = any ? UniteRanges(range, r) : r;
        any = true;
    }
    return any;
}

bool TransformSourceList::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<TransformSourceList, RefCounted>(this, id, out);
}

TransformAnimation::TransformAnimation() {
    Add(&scale_);
    Add(&rotation_);
    Add(&position_);
}

bool TransformAnimation::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<TransformAnimation, TransformSourceList, RefCounted>(this, id, out);
}
