#include "saver/scene_saver_app.h"

#include "core/math/typed_matrix.h"
#include "core/object/type_id.h"
#include "core/settings/frame_stats.h"
#include "core/debug/debug_trace.h"
#include "gui/font_manager.h"
#include "render/effect_manager.h"
#include "render/material.h"
#include "render/texture_registry.h"
#include "saver/music.h"
#include "scene/render_queue.h"
#include "scene/scene_node.h"

#include <rimeholt/log.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

SceneSaverApp* g_sceneApp = nullptr;

// The DirectInput scan code of F4: its release switches occlusion culling.
constexpr int32_t kKeyF4 = 62;

// Flakes that fell below this height are under the ground: the clean-up removes them.
constexpr float kFallenSnowY = -20.0f;

bool Contains(const String& text, const char* part) {
    return text.Text() != nullptr && std::strstr(text.Text(), part) != nullptr;
}

ParticleEmitter* EmitterOf(const SceneNode* node) {
    if (node == nullptr || node->GetAttachment() == nullptr) return nullptr;
    void* emitter = nullptr;
    if (!node->GetAttachment()->QueryInterface(TypeId<ParticleEmitter>::Get(), &emitter)) return nullptr;
    return static_cast<ParticleEmitter*>(emitter);
}

void ReadScriptNumber(const ScriptNode& tree, const char* key, float* out) {
    if (const ScriptNode* node = tree.Child(key)) *out = static_cast<float>(node->AsDouble());
}

}  // namespace

// ---- Rules

int32_t LampKind(const String& name) {
    if (Contains(name, "LampA")) return 0;
    if (Contains(name, "LampB")) return 1;
    return 2;
}

float LampAlpha(int64_t now, int32_t blinkPeriod, int32_t kind) {
    const int64_t period = blinkPeriod > 0 ? blinkPeriod : 1;
    const int64_t offset = period * kind / 3;
    int64_t phase = (now + offset) % period;
    if (phase < 0) phase += period;
    const float u = static_cast<float>(phase) / static_cast<float>(period);
    const float w = u <= 0.5f ? u : 1.0f - u;
    const float v = (w + w) * 0.8f + 0.2f;
    return v >= 0.6f ? 1.0f : 0.3f;
}

SnowRow SnowRowFor(int32_t snowQuality) {
    switch (snowQuality) {
        case 0: return SnowRow{6000, 3.0f};
        case 1: return SnowRow{12000, 1.0f};
        default: return SnowRow{24000, 0.1f};
    }
}

Vec3 SnowGeneratorPosition(const Vec3& cameraPosition, const Vec3& cameraDirection) {
    Vec3 d{cameraDirection.x, 0.0f, cameraDirection.z};
    if (d.x == 0.0f && d.z == 0.0f) d = Vec3{0.0f, 0.0f, 1.0f};
    const float length = std::sqrt(d.x * d.x + d.z * d.z);
    d = Vec3{d.x / length, 0.0f, d.z / length};
    return Vec3{cameraPosition.x + 200.0f * d.x, cameraPosition.y, cameraPosition.z + 200.0f * d.z};
}

uint32_t TwoPassFogColor(const ArgbColor& fogColor) {
    return ArgbColor(1.0f, std::sqrt(fogColor.r * 0.5f), std::sqrt(fogColor.g * 0.5f), std::sqrt(fogColor.b * 0.5f))
        .ToARGB();
}

void StartSceneAnimations(SceneNode* node) {
    if (node == nullptr) return;
    node->BindAnimation(0, String(""), true);
    node->StartAnimation(0, true);
    node->SetAnimationSpeed(-1, 1.0f, true);
    node->SetAnimationFlags(-1, 4, true);
    node->SetAnimationTolerance(0, 0.0f, true);
    float first = 0.0f, last = 0.0f;
    if (node->GetAnimationRange(&first, &last)) node->SetAnimationRange(-1, first, last, true);
    node->UpdateAnimationFlags();
}

void PrepareTwoPassMaterials(SceneNode* node, const ArgbColor& fogColor, float highlightPower) {
    if (node == nullptr) return;
    MultiMaterial& material = node->GetMaterial();
    if (material.count() == 2) {
        const uint32_t fog = TwoPassFogColor(fogColor);
        for (int32_t i = 0; i < 2; ++i) {
            material.sub(i).ownFogColor = false;
            material.sub(i).fogColor = fog;
        }
        material.sub(0).colors.SetPower(highlightPower);
    }
    for (int32_t i = 0; i < node->childCount(); ++i) PrepareTwoPassMaterials(node->child(i), fogColor, highlightPower);
}

// ---- Life

SaverApp* GetSaverApp() {
    if (g_sceneApp == nullptr) g_sceneApp = new SceneSaverApp();
    return g_sceneApp;
}

void DeleteSaverApp() {
    delete g_sceneApp;
    g_sceneApp = nullptr;
}

SceneSaverApp::SceneSaverApp() : highlightLight_(new DirLight()) {
    startPosition = Vec3{0.0f, 100.0f, 100.0f};
    fogEnable = false;
}

SceneSaverApp::~SceneSaverApp() {
    while (planes_.count() > 0) delete planes_.Take();
    while (lamps_.count() > 0) delete lamps_.Take();
    delete snowNode_;
    snowNode_ = nullptr;
    lampMaterial_ = nullptr;
    statisticsLabel_.Hide();
    // The effects compiled for this device go with it; a later device compiles its own.
    g_effectManager.ReleaseAll();
    // The shared managers outlive this application and its archive: a later application
    // would otherwise resolve names against a freed archive.
    g_effectManager.searchPaths().ForgetArchive(&mediaArchive_);
    g_textureRegistry.ForgetArchive(&mediaArchive_);
}

FileRef SceneSaverApp::MediaFileRef(const String& name) {
    FileRef ref = FileRef::Member(&mediaArchive_, name);
    ref.flags = FileRef::kDisk | FileRef::kArchive;
    return ref;
}

ParticleEmitter* SceneSaverApp::snowEmitter() const { return EmitterOf(snowNode_); }

// ---- Settings

void SceneSaverApp::LoadSceneSettings() {
    const ScriptNode& tree = settingsTree_;
    // Of the two readers of "FogEnable" this one runs last and decides: only 1 is on.
    if (const ScriptNode* node = tree.Child("FogEnable")) fogEnable = node->AsInt() == 1;
    if (const ScriptNode* node = tree.Child("BlinkPeriod")) blinkPeriod = static_cast<int32_t>(node->AsDouble());
    if (const ScriptNode* node = tree.Child("SpecularDir")) {
        float* axes[3] = {&highlightDir.x, &highlightDir.y, &highlightDir.z};
        for (int i = 0; i < 3; ++i) ReadScriptNumber(*node, std::to_string(i).c_str(), axes[i]);
    }
    ReadScriptNumber(tree, "SpecularPower", &highlightPower);
    ReadScriptNumber(tree, "DT", &particleStep);
    g_particleTimeStep = particleStep;
}

bool SceneSaverApp::LoadRegistrySettings() {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, g_registryPath.Text(), 0, nullptr, 0, KEY_READ, nullptr, &key,
                        &disposition) == ERROR_SUCCESS) {
        DWORD value = 0;
        DWORD size = sizeof value;
        DWORD type = 0;
        if (RegQueryValueExA(key, "UseShaders", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS) {
            scene_.useShaders = value != 0;
        }
        size = sizeof value;
        if (RegQueryValueExA(key, "SnowQuality", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS) {
            scene_.snowQuality = static_cast<int32_t>(value);
        }
        RegCloseKey(key);
    }
    return SaverApp::LoadRegistrySettings();
}

bool SceneSaverApp::SaveRegistrySettings() {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, g_registryPath.Text(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        &disposition) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD shaders = scene_.useShaders ? 1 : 0;
    const DWORD snow = static_cast<DWORD>(scene_.snowQuality);
    RegSetValueExA(key, "UseShaders", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&shaders), sizeof shaders);
    RegSetValueExA(key, "SnowQuality", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&snow), sizeof snow);
    RegCloseKey(key);
    return SaverApp::SaveRegistrySettings();
}

INT_PTR SceneSaverApp::SettingsDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    return SceneSettingsDlgProc(*this, scene_, dialog, msg, wParam, lParam);
}

void SceneSaverApp::ShutdownSound() { ShutdownMusic(mode_, settings_.volume, settings_.music); }

void SceneSaverApp::OnInputEvent(InputEventKind kind, int32_t x, int32_t y, int32_t prevX, int32_t prevY, int32_t dx,
                                 int32_t dy, int32_t keyOrChar) {
    if (kind == InputEventKind::kKeyUp && keyOrChar == kKeyF4) occlusionOn_ = !occlusionOn_;
    SaverApp::OnInputEvent(kind, x, y, prevX, prevY, dx, dy, keyOrChar);
}

// ---- Loading

bool SceneSaverApp::LoadScene() {
    g_effectManager.searchPaths().Add(MediaFileRef("Media/Shaders"));
    g_textureRegistry.Add(MediaFileRef("Media/Txt"));
    g_textureRegistry.Add(MediaFileRef("Media/LightMap"));

    if (scene_.useShaders && !g_effectManager.PreloadEffectMaterials()) {
        DebugTrace("Effect loading failed\n");
        return false;
    }

    FontStyle style;
    style.size = 14;
    style.background = ArgbColor(0.0f, 100.0f / 255.0f, 100.0f / 255.0f, 200.0f / 255.0f);
    statisticsLabel_.SetStyle(style);
    statisticsLabel_.SetRect(10, 100, 256, 128);
    statisticsLabel_.SetAlphaMode(2);
    statisticsLabel_.SetText(WideString());

    // Unreadable scene files leave their scene empty and the run goes on; one line says which.
    SceneLoadOptions options;
    options.flags = kSceneOtherExtensions;
    for (auto [scene, name] : {std::pair<Scene*, const char*>{&city_, "media/city.zwf"},
                               std::pair<Scene*, const char*>{&sky_, "media/skybox/skybox.zwf"}}) {
        if (!scene->ReadSceneFile(MediaFileRef(name), &options)) {
            rh::LogWarning("scene file %s could not be read; that part of the scene stays empty", name);
        }
    }
    SceneNode& root = city_.GetRoot();
    root.ComputeBounds();
    PrepareTwoPassMaterials(&root, fogColor, highlightPower);

    LoadSoundLibrary();
    StartSound(saverWindow_);
    if (settings_.music) {
        musicSample_ = LoadMusic(MediaFileRef(ConcatStringText(mediaRoot_, "/rimeholt.ogg")), BASS_SAMPLE_LOOP);
        PlayMusic(musicSample_);
    }

    lampEmitter_.particleLimit = 0;
    lampEmitter_.startColour = ArgbColor(1.0f, 1.0f, 1.0f, 1.0f);
    lampEmitter_.endColour = ArgbColor(1.0f, 1.0f, 1.0f, 1.0f);
    lampEmitter_.iterationAccuracy = 1.0f;
    lampEmitter_.constantSize = true;
    lampEmitter_.singleTexture = true;
    lampEmitter_.equalColours = false;
    lampEmitter_.spawnCentre = Vec3{0.0f, 0.0f, 0.0f};

    // The walk reads the child list afresh after each removal, so a removed child's successor
    // is visited next.
    for (int32_t i = 0; i < root.childCount();) {
        SceneNode* child = root.child(i);
        const String name = child->GetName();
        if (Contains(name, "Plane") && child->GetDrawOrder() != 0) {
            root.RemoveChild(name);
            child->GetMaterial().sub(0).noFog = true;
            child->SetParent(nullptr);
            planes_.Append(child);
            continue;
        }
        if (Contains(name, "Lamp")) {
            root.RemoveChild(name);
            child->SetParent(nullptr);
            Particle lamp;
            lamp.position = child->GetNodeTransform(false).GetPosition();
            lamp.width = 2.0f;
            lamp.height = 2.0f;
            lamp.colour = ArgbColor(1.0f, 1.0f, 1.0f, 1.0f);
            lamp.life = -1;
            lamp.playback.delay = LampKind(name);
            lampEmitter_.particles.Append(lamp);
            ++lampEmitter_.particleLimit;
            MultiMaterial& material = child->GetMaterial();
            material.sub(0).stages[0].SetAlphaSource(6);
            material.sub(0).noFog = true;
            if (lampMaterial_ == nullptr) lampMaterial_ = &material;
            lamps_.Append(child);
            continue;
        }
        ++i;
    }

    if (SceneNode* snow = root.FindByName(String("SnowGenerator"))) {
        snow->GetMaterial().sub(0).noFog = true;
        if (ParticleEmitter* emitter = EmitterOf(snow)) {
            if (scene_.snowQuality != 2) emitter->pointSpritesAllowed = false;
            // The clean-up takes the flakes the moves found below the ground.
            emitter->TrackBelow(kFallenSnowY);
        }
        if (SceneNode* parent = snow->GetParent()) parent->RemoveChild(snow->GetName());
        snow->SetParent(nullptr);
        snowNode_ = snow;
    }
    SeedSnow();

    DebugTrace("Hierarchy loaded\n");
    StartSceneAnimations(&root);
    StartSceneAnimations(&city_.GetBonesRoot());

    input_.InitInput(true, 6, 6);
    if (!g_fontManager.LoadFont(MediaFileRef("media/fonts/sylfaen.fs")).Succeeded()) {
        DebugTrace("Error: Sylfaen font loading failed\n");
    }
    musicTimer_.Reset();
    return true;
}

void SceneSaverApp::SeedSnow() {
    ParticleEmitter* emitter = snowEmitter();
    if (snowNode_ == nullptr) return;
    snowNode_->GetNodeTransform(true).SetPosition(
        SnowGeneratorPosition(freeCamera_.GetPosition(), freeCamera_.GetDirection()));
    if (emitter == nullptr) return;

    MultiMaterial& material = snowNode_->GetMaterial();
    RenderContext spawnContext;
    TypedMatrix world = IdentityMatrix();
    const Vec3 eye = freeCamera_.GetPosition();
    world.At(3, 0) = eye.x;
    world.At(3, 1) = eye.y;
    world.At(3, 2) = eye.z;
    world.kind = kMatrixGeneral;
    spawnContext.world = world;
    RenderContext* previous = material.renderContext();
    material.SetRenderContext(&spawnContext);

    const SnowRow row = SnowRowFor(scene_.snowQuality);
    emitter->particleLimit = row.limit;
    emitter->spawnScheduler.SetInterval(RandomValue(row.period));
    emitter->particles.Clear();
    emitter->spawnType = 0;
    const int64_t now = static_cast<int64_t>(ClockNow());
    for (int32_t i = 0; i < row.limit / 2; ++i) {
        Particle particle;
        emitter->SpawnParticle(&material, particle);
        particle.life = static_cast<int32_t>(emitter->life.Sample());
        particle.birth = static_cast<int64_t>(static_cast<double>(now) -
                                              static_cast<double>(std::rand() % 100) * 0.01 * particle.life);
        emitter->particles.Append(particle);
    }
    // The context was this function's own: the material keeps no pointer to it.
    material.SetRenderContext(previous);
}

// ---- Each frame

void SceneSaverApp::RemoveFallenSnow() {
    const uint64_t now = ClockNow();
    if (!cleanedOnce_) {
        cleanedOnce_ = true;
        lastCleanUp_ = now;
    }
    if (now - lastCleanUp_ <= 10) return;
    ParticleEmitter* emitter = snowEmitter();
    if (emitter == nullptr) return;
    emitter->RemoveBelow(kFallenSnowY);
    lastCleanUp_ = now;
}

void SceneSaverApp::BlinkLamps() {
    const int64_t now = static_cast<int64_t>(ClockNow());
    auto* node = lampEmitter_.particles.first();
    for (int32_t i = 0; i < lampEmitter_.particles.count(); ++i, node = node->next) {
        Particle& lamp = node->element;
        lamp.colour = ArgbColor(LampAlpha(now, blinkPeriod, lamp.playback.delay), 1.0f, 1.0f, 1.0f);
    }
}

bool SceneSaverApp::UpdateScene() {
    if (settings_.music && settings_.volume != 0 && mode_ != SaverMode::Preview) {
        SetMusicVolume(MusicFadeVolume(settings_.volume, static_cast<DWORD>(musicTimer_.Elapsed())));
    }
    if (snowNode_ != nullptr) {
        snowNode_->GetNodeTransform(true).SetPosition(
            SnowGeneratorPosition(freeCamera_.GetPosition(), freeCamera_.GetDirection()));
        RemoveFallenSnow();
    }
    BlinkLamps();
    return true;
}

bool SceneSaverApp::DrawScene() {
    if (firstDraw_) {
        if (ParticleEmitter* emitter = snowEmitter()) emitter->lastUpdate = static_cast<int64_t>(ClockNow());
        firstDraw_ = false;
    }

    {
        // The sky stays centred on the viewer.
        RenderPass skyPass;
        static_cast<CameraView&>(skyPass) = cameraView_;
        skyPass.SetEye(Vec3{0.0f, 0.0f, 0.0f});
        sky_.GetRoot().Draw(skyPass);
    }

    RenderQueue queue(&cameraView_);
    highlightLight_.Get()->SetDirection(highlightDir);
    highlightLight_.Get()->SetDiffuse(ArgbColor(1.0f, 0.0f, 0.0f, 0.0f));
    highlightLight_.Get()->SetSpecular(ArgbColor(1.0f, 1.0f, 1.0f, 1.0f));

    RenderPass cityPass;
    static_cast<CameraView&>(cityPass) = cameraView_;
    cityPass.flags = occlusionOn_ ? 0 : kPassNoOcclusion;
    cityPass.renderQueue = &queue;
    cityPass.lights.Add(highlightLight_);
    cityPass.lights.ambient = ArgbColor(static_cast<unsigned>(ambient.ToARGB()));
    g_frameStats.ClearFrameCounters();
    FreezeClock(true);
    city_.GetRoot().Draw(cityPass);
    FreezeClock(false);
    queue.Flush();
    queue.Clear();

    cityPass.flags = kPassNoFrustum;
    auto* plane = planes_.first();
    for (int32_t i = 0; i < planes_.count(); ++i, plane = plane->next) plane->element->Draw(cityPass);
    queue.Flush();
    queue.Clear();

    if (lampMaterial_ != nullptr) {
        RenderContext context;
        context.SetCamera(cameraView_);
        lampMaterial_->SetRenderContext(&context);
        lampEmitter_.Render(lampMaterial_);
        lampMaterial_->SetRenderContext(nullptr);
    }

    if (snowNode_ != nullptr) {
        RenderPass snowPass;
        static_cast<CameraView&>(snowPass) = cameraView_;
        snowNode_->Draw(snowPass);
    }

    const int tris = g_frameStats.Read(FrameStats::kFrameSlot, String(kStatTriangles));
    const int nodes = g_frameStats.Read(FrameStats::kFrameSlot, String(kStatNodes));
    const int occluded = g_frameStats.Read(FrameStats::kFrameSlot, String(kStatOccluded));
    const int clipped = g_frameStats.Read(FrameStats::kFrameSlot, String(kStatClipped));
    const int loadTime = g_frameStats.Read(FrameStats::kLoadTimeSlot, String(kStatEffectLoadTime));
    g_frameStats.ClearFrameCounters();
    const std::string text = "<RAW>tris: " + std::to_string(tris) + "\nnodes: " + std::to_string(nodes) +
                             "\n   occluded: " + std::to_string(occluded) + "\n   clipped: " +
                             std::to_string(clipped) + "\neffect_load_time: " + std::to_string(loadTime) + "</RAW>";
    statisticsText_ = text.c_str();
    statisticsLabel_.SetMarkup(WideString(statisticsText_));
    return true;
}
