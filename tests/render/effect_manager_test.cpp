// The effect manager's and the lit effect materials' rules without a device: the light-count
// enumeration, the technique and description orders, the binary file names, and how pass
// groups are cut from ranked lights against a set of techniques.
#include "render/effect_manager.h"
#include "render/lit_effect_material.h"
#include "render/material.h"

#include <gtest/gtest.h>
#include <cstring>
#include <limits>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

TEST(LightCounts, TwoKindsOfThreeWithBoundThreeGiveTheTenCombinationsInOrder) {
    const int32_t minimums[2] = {0, 0};
    const int32_t maximums[2] = {3, 3};
    int32_t counts[2] = {0, 0};
    std::vector<std::pair<int, int>> seen{{0, 0}};
    while (NextLightCountCombination(counts, minimums, maximums, 2, 3)) seen.emplace_back(counts[0], counts[1]);
    const std::vector<std::pair<int, int>> want{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {0, 1},
                                                {1, 1}, {2, 1}, {0, 2}, {1, 2}, {0, 3}};
    EXPECT_EQ(seen, want);
}

TEST(LightCounts, MinimumsAndSmallMaximumsBoundTheWalk) {
    struct Case {
        std::vector<int32_t> minimums, maximums;
        int32_t bound;
        size_t combinations;
    };
    const Case cases[] = {
        {{0}, {3}, 3, 4},             // 0..3
        {{1, 0}, {2, 2}, 3, 5},       // (1,0) (2,0) (1,1) (2,1) (1,2)
        {{0, 0, 0}, {1, 1, 1}, 2, 7},  // all vectors of 0/1 with at most two ones
        {{0, 0}, {0, 0}, 3, 1},       // nothing to count
    };
    for (const Case& c : cases) {
        std::vector<int32_t> counts = c.minimums;
        size_t n = 1;
        while (NextLightCountCombination(counts.data(), c.minimums.data(), c.maximums.data(),
                                         static_cast<int32_t>(counts.size()), c.bound)) {
            int32_t total = 0;
            for (size_t k = 0; k < counts.size(); ++k) {
                EXPECT_GE(counts[k], c.minimums[k]);
                EXPECT_LE(counts[k], c.maximums[k]);
                total += counts[k];
            }
            EXPECT_LE(total, c.bound);
            ASSERT_LT(++n, 100u);
        }
        EXPECT_EQ(n, c.combinations) << "bound " << c.bound << ", " << c.minimums.size() << " kinds";
    }
}

TechniqueInfo Technique(const char* name, std::vector<std::pair<const char*, int>> annotations,
                        EffectResource* effect = nullptr, int passes = 1) {
    TechniqueInfo info;
    info.name = name;
    info.effect = effect;
    info.passes = passes;
    for (const auto& a : annotations) {
        info.annotationSum += a.second;
        if (a.second != 0) info.annotations[String(a.first)] = a.second;
    }
    return info;
}

TEST(TechniqueOrder, SumThenAnnotationsThenCountThenNameThenEffect) {
    auto* e1 = reinterpret_cast<EffectResource*>(0x1000);
    auto* e2 = reinterpret_cast<EffectResource*>(0x2000);
    struct Row {
        TechniqueInfo a, b;
        int want;
        const char* why;
    };
    const Row rows[] = {
        {Technique("Z", {{"DIR", 1}}), Technique("A", {{"DIR", 2}}), -1, "the sum decides first"},
        {Technique("A", {{"DIR", 1}, {"POINT", 1}}), Technique("A", {{"DIR", 2}}), -1, "then names: DIR < POINT"},
        {Technique("A", {{"DIR", 2}}), Technique("A", {{"DIR", 1}, {"POINT", 1}}), 1, "the mirror"},
        {Technique("A", {{"A", 1}, {"B", 1}}), Technique("A", {{"A", 2}}), -1, "then values: A 1 < A 2"},
        {Technique("a", {{"DIR", 1}}), Technique("A", {{"DIR", 1}}), 0, "names ignore case"},
        {Technique("A", {{"DIR", 1}}), Technique("B", {{"DIR", 1}}), -1, "then the name"},
        {Technique("", {{"DIR", 1}}), Technique("B", {{"DIR", 1}}), 0, "an empty name matches any"},
        {Technique("A", {}, e1), Technique("A", {}, e2), -1, "then the effect"},
        {Technique("A", {}, nullptr), Technique("A", {}, e2), 0, "a probe without effect matches"},
        {Technique("A", {{"X", 0}}), Technique("A", {}), 0, "zero annotations are left out of the map"},
    };
    for (const Row& row : rows) {
        const int got = TechniqueInfo::Compare(row.a, row.b);
        EXPECT_EQ((got > 0) - (got < 0), row.want) << row.why;
        const int back = TechniqueInfo::Compare(row.b, row.a);
        EXPECT_EQ((back > 0) - (back < 0), -row.want) << row.why << " (reversed)";
    }
}

EffectDesc Desc(const char* file, std::vector<std::pair<const char*, const char*>> macros) {
    EffectDesc desc;
    desc.locator = FileRef(file);
    for (const auto& m : macros) desc.macros.push_back(EffectMacro{String(m.first), String(m.second)});
    return desc;
}

TEST(EffectDescOrder, SameFileByMacroCountThenNamesThenValuesOtherFilesApart) {
    struct Row {
        EffectDesc a, b;
        int want;
        const char* why;
    };
    const Row rows[] = {
        {Desc("x.fx", {{"A", "1"}}), Desc("x.fx", {{"A", "1"}}), 0, "equal"},
        {Desc("x.fx", {{"Z", "9"}}), Desc("x.fx", {{"A", "1"}, {"B", "1"}}), -1, "fewer macros first"},
        {Desc("x.fx", {{"A", "1"}, {"B", ""}}), Desc("x.fx", {{"B", ""}, {"A", "1"}}), -1, "order counts"},
        {Desc("x.fx", {{"A", "1"}}), Desc("x.fx", {{"A", "2"}}), -1, "then the value"},
        {Desc("x.fx", {{"a", "1"}}), Desc("x.fx", {{"A", "1"}}), 1, "bytes: 'a' > 'A'"},
        {Desc("X.fx", {}), Desc("x.fx", {}), -1, "file names keep their case, as Equals does"},
    };
    for (const Row& row : rows) {
        const int got = EffectDesc::Compare(row.a, row.b);
        EXPECT_EQ((got > 0) - (got < 0), row.want) << row.why;
        const int back = EffectDesc::Compare(row.b, row.a);
        EXPECT_EQ((back > 0) - (back < 0), -row.want) << row.why << " (reversed)";
    }
    // A pool holder does not make a description different.
    EffectDesc pooled = Desc("x.fx", {});
    EffectPoolHolder holder;
    pooled.poolHolder = &holder;
    EXPECT_EQ(EffectDesc::Compare(pooled, Desc("x.fx", {})), 0);
}

TEST(EffectBinaryNames, KeyAndPathFollowTheSourceAndMacros) {
    struct Row {
        EffectDesc desc;
        std::string key, path;
    };
    const Row rows[] = {
        {Desc("Media/Shaders/Parallax_T.fx",
              {{"DIR1", ""}, {"NUMDIR", "1"}, {"NUMPOINT", "0"}, {"TEXCOORDS", ""}, {"PS_MODEL", "ps_1_1"}}),
         "Parallax_T DIR1NUMDIR1NUMPOINT0TEXCOORDSPS_MODELps_1_1",
         "Media/Shaders/Parallax_T/Parallax_T DIR1NUMDIR1NUMPOINT0TEXCOORDSPS_MODELps_1_1.fxo"},
        {Desc("a\\b.fx", {{"T", "x:TEXCOORD0;"}}), "b Tx TEXCOORD0;", "a/b/b Tx TEXCOORD0;.fxo"},
        // Bytes no file name here can hold become blanks like ':'.
        {Desc("e.fx", {{"P", "a/b\\c\td"}}), "e Pa b c d", "e/e Pa b c d.fxo"},
        // A source without a directory keeps its binaries beside it, not at the root.
        {Desc("plain.fx", {}), "plain ", "plain/plain .fxo"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(std::string(row.desc.BinaryKey().Text()), row.key);
        EXPECT_EQ(std::string(row.desc.BinaryPath().Text()), row.path);
    }
    // Over-long keys are cut and end in a hash of the whole, so two long keys stay apart.
    const std::string longValue(400, 'v');
    EffectDesc a = Desc("l.fx", {{"M", longValue.c_str()}});
    EffectDesc b = Desc("l.fx", {{"N", longValue.c_str()}});
    const std::string keyA = a.BinaryKey().Text();
    const std::string keyB = b.BinaryKey().Text();
    EXPECT_EQ(keyA.size(), static_cast<size_t>(EffectDesc::kMaxKeyLength));
    EXPECT_NE(keyA, keyB);
    EXPECT_EQ(keyA.substr(0, 4), "l Mv");
}

// A lit effect material with a hand-made technique set.
class TableMaterial : public LitEffectMaterial {
public:
    explicit TableMaterial(std::vector<TechniqueInfo> techniques) {
        defaultTechnique_ = "Parallax";
        lightKinds_ = {String("DIR"), String("POINT")};
        for (const TechniqueInfo& t : techniques) techniques_.insert(t);
    }
    VertexFormat VertexElements() const override { return VertexFormat(); }
};

SharedRef<Light> MakeLight(D3DLIGHTTYPE type) {
    Light* light = nullptr;
    if (type == D3DLIGHT_POINT) light = new PointLight;
    if (type == D3DLIGHT_SPOT) light = new SpotLight;
    if (type == D3DLIGHT_DIRECTIONAL) light = new DirLight;
    return SharedRef<Light>(light);
}

// The ten parallax techniques, each on its own (fake) effect.
std::vector<TechniqueInfo> ParallaxTechniques() {
    std::vector<TechniqueInfo> all;
    const int combos[10][2] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {0, 1}, {1, 1}, {2, 1}, {0, 2}, {1, 2}, {0, 3}};
    for (int i = 0; i < 10; ++i) {
        all.push_back(Technique("Parallax", {{"DIR", combos[i][0]}, {"POINT", combos[i][1]}},
                                reinterpret_cast<EffectResource*>(0x1000 * (i + 1))));
    }
    return all;
}

TEST(PassGroups, LightsFillGroupsInRankedOrderWhileATechniqueFits) {
    TableMaterial material(ParallaxTechniques());
    MultiMaterial multi;
    struct Row {
        std::vector<D3DLIGHTTYPE> lights;
        std::vector<std::pair<int, int>> groups;  // DIR, POINT per group
        int dropped;
        const char* why;
    };
    const D3DLIGHTTYPE D = D3DLIGHT_DIRECTIONAL, P = D3DLIGHT_POINT, S = D3DLIGHT_SPOT;
    const Row rows[] = {
        {{}, {{0, 0}}, 0, "no lights: the technique of sum 0"},
        {{D}, {{1, 0}}, 0, "one directional"},
        {{D, D, D, D}, {{3, 0}, {1, 0}}, 0, "four directional: 3 + 1"},
        {{P, D, P}, {{1, 2}}, 0, "two points and a directional in one group"},
        {{P, P, P, D}, {{0, 3}, {1, 0}}, 0, "the directional waits for the next group"},
        {{S}, {}, 1, "a spot light fits nothing"},
        {{S, D}, {{1, 0}}, 1, "the spot is dropped, the directional drawn"},
    };
    for (const Row& row : rows) {
        std::vector<KindedLight> ranked;
        for (D3DLIGHTTYPE type : row.lights) {
            SharedRef<Light> light = MakeLight(type);
            ranked.emplace_back(light, LightKindName(*light.Get()));
        }
        std::vector<std::pair<int, int>> groups;
        int dropped = 0;
        do {
            PassGroup group;
            if (material.BuildPassGroup(&multi, 0, &ranked, &group)) {
                const auto dir = group.technique.annotations.find(String("DIR"));
                const auto point = group.technique.annotations.find(String("POINT"));
                groups.emplace_back(dir != group.technique.annotations.end() ? dir->second : 0,
                                    point != group.technique.annotations.end() ? point->second : 0);
                EXPECT_NE(group.technique.effect, nullptr) << row.why;
                EXPECT_EQ(group.lights.size(), size_t(groups.back().first + groups.back().second)) << row.why;
            } else {
                ASSERT_FALSE(ranked.empty()) << row.why;
                ranked.erase(ranked.begin());
                ++dropped;
            }
        } while (!ranked.empty());
        EXPECT_EQ(groups, row.groups) << row.why;
        EXPECT_EQ(dropped, row.dropped) << row.why;
    }
}

TEST(PassGroups, TheSubMaterialsTechniqueNameChoosesAndAGroupWithoutTechniqueFails) {
    std::vector<TechniqueInfo> techniques = ParallaxTechniques();
    techniques.push_back(Technique("Shiny", {{"DIR", 1}}, reinterpret_cast<EffectResource*>(0x99000)));
    TableMaterial material(techniques);
    MultiMaterial multi;
    multi.sub(0).techniqueName = "shiny";
    std::vector<KindedLight> ranked;
    ranked.emplace_back(MakeLight(D3DLIGHT_DIRECTIONAL), String("DIR"));
    ranked.emplace_back(MakeLight(D3DLIGHT_DIRECTIONAL), String("DIR"));
    PassGroup group;
    ASSERT_TRUE(material.BuildPassGroup(&multi, 0, &ranked, &group));
    EXPECT_EQ(group.technique.effect, reinterpret_cast<EffectResource*>(0x99000));
    EXPECT_EQ(group.lights.size(), 1u);
    EXPECT_EQ(ranked.size(), 1u);
    // "Shiny" has no technique without lights.
    std::vector<KindedLight> none;
    EXPECT_FALSE(material.BuildPassGroup(&multi, 0, &none, &group));
}

// What AssignLightsToPasses gave: its answer, the total, and per group the technique (light
// counts, effect), the lights in the order they joined and in the order they are numbered.
struct Assignment {
    bool ok = false;
    int32_t total = -1;
    std::vector<std::pair<std::vector<int32_t>, EffectResource*>> techniques;
    std::vector<std::vector<const Light*>> lights;
    std::vector<std::vector<const Light*>> numbered;
    bool operator==(const Assignment& o) const {
        return ok == o.ok && total == o.total && techniques == o.techniques && lights == o.lights &&
               numbered == o.numbered;
    }
};

Assignment Assign(LitEffectMaterial& material, MultiMaterial& multi) {
    Assignment a;
    a.ok = material.AssignLightsToPasses(&multi, 0, &a.total);
    for (const PassGroup& group : material.passGroups()) {
        std::vector<int32_t> counts{group.technique.annotationSum, group.technique.passes};
        for (const auto& entry : group.technique.annotations) counts.push_back(entry.second);
        a.techniques.emplace_back(counts, group.technique.effect);
        a.lights.emplace_back();
        for (const KindedLight& light : group.lights) a.lights.back().push_back(light.first.Get());
        a.numbered.push_back(group.bindOrder);
    }
    return a;
}

// One material prepares object after object while the lights, their influence, the technique
// asked for and the techniques change between them; it must always give what a material that
// never saw an earlier object gives, whether it built the groups again or kept its last ones.
TEST(PassGroups, EachObjectGetsTheGroupsAFreshMaterialWouldBuild) {
    std::vector<TechniqueInfo> techniques = ParallaxTechniques();
    techniques.push_back(Technique("Shiny", {{"DIR", 1}}, reinterpret_cast<EffectResource*>(0x99000)));
    TableMaterial kept(techniques);
    RenderContext context;
    MultiMaterial multi;
    multi.SetRenderContext(&context);
    auto* d1 = new DirLight;
    auto* d2 = new DirLight;
    auto* point = new PointLight;
    auto* spot = new SpotLight;
    d1->SetDiffuse(ArgbColor(1.0f, 0.5f, 0.5f, 0.5f));
    d2->SetDiffuse(ArgbColor(1.0f, 0.5f, 0.5f, 0.5f));
    point->SetDiffuse(ArgbColor(1.0f, 1.0f, 1.0f, 1.0f));
    point->SetAttenuation(1.0f, 0.0f, 0.0f);
    point->SetRange(100.0f);
    point->SetPosition(Vec3{1.0f, 0.0f, 0.0f});
    const SharedRef<Light> D1(d1), D2(d2), P(point), S(spot);
    auto set = [&](std::vector<SharedRef<Light>> lights) {
        context.lights = LightSet();
        for (const SharedRef<Light>& light : lights) context.lights.Add(light);
    };
    struct Step {
        const char* what;
        std::function<void()> change;
    };
    const Step steps[] = {
        {"one directional light", [&] { set({D1}); }},
        {"the same light on a moved object", [&] { context.worldBox.centre = Vec3{5.0f, 0.0f, 0.0f}; }},
        // Equal influence: the light met last ranks first, so the binding order turns.
        {"two directional lights of equal influence", [&] { set({D1, D2}); }},
        {"the second one brighter", [&] { d2->SetDiffuse(ArgbColor(1.0f, 0.9f, 0.9f, 0.9f)); }},
        {"equal again", [&] { d2->SetDiffuse(ArgbColor(1.0f, 0.5f, 0.5f, 0.5f)); }},
        {"a point light joins", [&] { set({D1, D2, P}); }},
        {"the kinds in the other order", [&] { kept.lightKinds() = {String("POINT"), String("DIR")}; }},
        {"and back", [&] { kept.lightKinds() = {String("DIR"), String("POINT")}; }},
        // Point light attenuation 1 and diffuse 1 give influence 1 near it; moving the object
        // out of range gives 0 and changes nothing in the ranking of the others.
        {"the object leaves the point light's range", [&] { context.worldBox.centre = Vec3{500.0f, 0.0f, 0.0f}; }},
        {"the point light's influence equals the directional lights'",
         [&] {
             point->SetDiffuse(ArgbColor(1.0f, 0.5f, 0.5f, 0.5f));
             context.worldBox.centre = Vec3{0.0f, 0.0f, 0.0f};
         }},
        {"the sub-material asks for another technique", [&] { multi.sub(0).techniqueName = "shiny"; }},
        {"and for the default again", [&] { multi.sub(0).techniqueName = String(); }},
        {"the technique the three lights used goes",
         [&] {
             for (auto it = kept.techniques().begin(); it != kept.techniques().end(); ++it) {
                 if (it->annotationSum == 3 && it->annotations.begin()->second == 2) {
                     kept.techniques().erase(it);
                     break;
                 }
             }
         }},
        {"a lone spot light, dropped", [&] { set({S}); }},
        {"a spot light before a directional one", [&] { set({S, D1}); }},
        {"the same lights in another order", [&] { set({D1, S}); }},
        {"no lights", [&] { set({}); }},
        {"no render context", [&] { multi.SetRenderContext(nullptr); }},
        {"the context back", [&] { multi.SetRenderContext(&context); set({D2, D1}); }},
    };
    for (const Step& step : steps) {
        step.change();
        const Assignment got = Assign(kept, multi);
        const TechniqueSet& now = std::as_const(kept).techniques();
        TableMaterial fresh(std::vector<TechniqueInfo>(now.begin(), now.end()));
        fresh.lightKinds() = std::as_const(kept).lightKinds();
        const Assignment want = Assign(fresh, multi);
        EXPECT_TRUE(got == want) << step.what;
        // A second object lit the same way gets the same again.
        EXPECT_TRUE(Assign(kept, multi) == want) << step.what << ", again";
    }
}

// Parameters are numbered kind by kind in the material's kind order (directional lights
// first in the parallax material), whatever order the ranking put the lights in.
TEST(PassGroups, LightsAreNumberedKindByKindInTheMaterialsKindOrder) {
    TableMaterial material(ParallaxTechniques());
    RenderContext context;
    MultiMaterial multi;
    multi.SetRenderContext(&context);
    auto* dir = new DirLight;
    auto* point = new PointLight;
    dir->SetDiffuse(ArgbColor(1.0f, 0.2f, 0.2f, 0.2f));
    point->SetDiffuse(ArgbColor(1.0f, 1.0f, 1.0f, 1.0f));
    point->SetAttenuation(1.0f, 0.0f, 0.0f);
    point->SetRange(100.0f);
    const SharedRef<Light> D(dir), P(point);
    context.lights.Add(D);
    context.lights.Add(P);
    const Assignment first = Assign(material, multi);
    ASSERT_EQ(first.lights.size(), 1u);
    // The brighter point light ranks first; the directional one still takes number 1.
    EXPECT_EQ(first.lights[0], (std::vector<const Light*>{point, dir}));
    EXPECT_EQ(first.numbered[0], (std::vector<const Light*>{dir, point}));
    // Other kinds, same lights: the groups could be kept, but the numbering follows the kinds.
    material.lightKinds() = {String("POINT"), String("DIR")};
    const Assignment turned = Assign(material, multi);
    ASSERT_EQ(turned.numbered.size(), 1u);
    EXPECT_EQ(turned.numbered[0], (std::vector<const Light*>{point, dir}));
}

}  // namespace

namespace {

// The inverse world matrix follows the world matrix: objects drawn one after another in one
// context each get their own, though the context's copy stays marked valid between them.
TEST(RenderContextInverse, FollowsEveryChangeOfTheWorldMatrix) {
    RenderContext context;
    const float moves[3] = {0.0f, 5.0f, -2.5f};
    for (float x : moves) {
        context.world = IdentityMatrix();
        context.world.At(3, 0) = x;
        context.world.At(0, 0) = 2.0f;
        context.world.kind = MatrixKindOf(context.world);
        const TypedMatrix& inverse = context.InverseWorld();
        EXPECT_EQ(inverse.valid, 1);
        const TypedMatrix product = MultiplyMatrices(context.world, inverse);
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) EXPECT_NEAR(product.At(r, c), r == c ? 1.0f : 0.0f, 1e-6f) << "x " << x;
        }
    }
}

// Objects placed by a translation take a shorter way to the inverse's kind: it must be the
// kind the inverse's contents bear out, and the inverse must be D3DX's, bit for bit (signed
// zeros included), whatever the translation.
TEST(RenderContextInverse, ATranslationsInverseIsD3dxsWithTheKindItsContentsBearOut) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float tiny = std::numeric_limits<float>::denorm_min();
    const float rows[][3] = {{0.0f, 0.0f, 0.0f}, {-0.0f, -0.0f, -0.0f}, {0.0f, -0.0f, 0.0f}, {5.0f, 0.0f, 0.0f},
                             {-2.5f, 3.0f, -0.0f}, {1e30f, -1e-30f, 7.0f}, {tiny, -tiny, 0.0f},
                             {3.0f, inf, 0.0f}, {nan, 1.0f, 2.0f}};
    RenderContext context;
    for (const auto& t : rows) {
        context.world = IdentityMatrix();
        context.world.At(3, 0) = t[0];
        context.world.At(3, 1) = t[1];
        context.world.At(3, 2) = t[2];
        context.world.kind = MatrixKindOf(context.world);
        const TypedMatrix& inverse = context.InverseWorld();
        D3DXMATRIX source, want;
        std::memcpy(&source, context.world.m, sizeof source);
        TypedMatrix expected = IdentityMatrix();
        if (D3DXMatrixInverse(&want, nullptr, &source) != nullptr) std::memcpy(expected.m, &want, sizeof want);
        const std::string what = std::to_string(t[0]) + " " + std::to_string(t[1]) + " " + std::to_string(t[2]);
        EXPECT_EQ(std::memcmp(inverse.m, expected.m, sizeof expected.m), 0) << what;
        EXPECT_EQ(inverse.kind, MatrixKindOf(inverse)) << what;
    }
}

}  // namespace
