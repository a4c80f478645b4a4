#include "core/object/ref_counted.h"

void RefCounted::OnReleased(RefCounted*) {}

void RefCounted::OnDestroyed(RefCounted*) {}

bool RefCounted::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<RefCounted>(this, id, out);
}

RefCounted::~RefCounted() {
    if (destroyListener_ != nullptr) destroyListener_->OnDestroyed(this);
}

void RefCounted::Release() {
    if (refCount_ != 0) --refCount_;
    if (refCount_ == 0 && releaseWatcher_ != nullptr) releaseWatcher_->OnReleased(this);
}
