// A renderable that draws nothing and logs each draw: its tag, the material it was given and a
// copy of the material's render context at the time. Tests of the scene walk and the render
// queue read the log to see what was drawn, in which order and with what.
#pragma once

#include "render/material.h"
#include "render/renderable.h"

#include <string>
#include <vector>

namespace rh::test {

struct DrawRecord {
    std::string tag;
    MultiMaterial* material;
    RenderContext context;
};

class RecordingRenderable : public Renderable {
public:
    // Logs into `log`, which must outlive the renderable.
    RecordingRenderable(std::string tag, std::vector<DrawRecord>* log) : tag_(std::move(tag)), log_(log) {}

    FlagWord Render(MultiMaterial* material) override {
        log_->push_back(DrawRecord{tag_, material, material != nullptr && material->renderContext() != nullptr
                                                       ? *material->renderContext()
                                                       : RenderContext()});
        return FlagWord(result_);
    }

    // The renderable's own box, as a mesh keeps the box of its data.
    void SetBox(const BoundingBox& box) {
        box_ = box;
        valid_ = true;
    }
    void ClearBox() { valid_ = false; }
    void SetResult(bool ok) { result_ = ok; }
    const std::string& tag() const { return tag_; }

private:
    std::string tag_;
    std::vector<DrawRecord>* log_;
    bool result_ = true;
};

// The tags of a log, in order.
inline std::vector<std::string> Tags(const std::vector<DrawRecord>& log) {
    std::vector<std::string> tags;
    for (const DrawRecord& r : log) tags.push_back(r.tag);
    return tags;
}

}  // namespace rh::test
