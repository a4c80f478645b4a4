// The scene application: the saver's one concrete application. It loads the village (the
// city and the sky box scenes from the media archive), the effects, the lamps (one particle
// each of an emitter of its own, so that they can blink), the planes, the snow emitter and the
// music. Every frame it fades the music in, keeps the snow emitter ahead of the camera,
// removes fallen flakes, blinks the lamps and draws sky, city, planes, lamps and snow. Each
// new camera path seeds the snow again.
//
// Single thread, as the application it derives from.
#pragma once

#include "core/containers/linked_list.h"
#include "core/files/file_ref.h"
#include "core/math/vec3.h"
#include "core/text/string.h"
#include "core/time/clock.h"
#include "core/types/argb_color.h"
#include "core/containers/shared_ref.h"
#include "gui/rich_text_view.h"
#include "render/light.h"
#include "saver/dialogs.h"
#include "saver/saver_app.h"
#include "saver/sun_rays.h"
#include "scene/particle_emitter.h"
#include "scene/scene.h"

#include <cstdint>

class SceneNode;
class MultiMaterial;

// ---- Rules of the scene, kept apart so they can be checked alone.

// 0 for a name containing "LampA", 1 for one containing "LampB" (and not "LampA"), 2 for any
// other lamp. Case-sensitive.
int32_t LampKind(const String& name);

// The lamp particle's alpha at ClockNow time `now`: 1.0 for the middle half of each blink
// period and 0.3 otherwise, kind k shifted by truncate(period x k / 3) ms. A period of 0 or
// less counts as 1 ms (the division would be undefined).
float LampAlpha(int64_t now, int32_t blinkPeriod, int32_t kind);

// The snow emitter's limit ("MaxParticles") and generation period ("GenPeriod") for a
// SnowQuality: 0 light, 1 normal, anything else heavy.
struct SnowRow {
    int32_t limit;
    float period;
};
SnowRow SnowRowFor(int32_t snowQuality);

// Where the snow generator stands: 200 units ahead of the camera along its direction laid flat
// (y := 0, normalised); straight along +z when the camera looks straight up or down.
Vec3 SnowGeneratorPosition(const Vec3& cameraPosition, const Vec3& cameraDirection);

// The fog colour of two-pass materials, packed: (1, sqrt(r x 0.5), sqrt(g x 0.5), sqrt(b x 0.5))
// of the scene's fog colour.
uint32_t TwoPassFogColor(const ArgbColor& fogColor);

// Starts every animation track of the subtree: track 0 bound to the default animation and
// started, speed 1 and wrap flags (4) on all tracks, tolerance 0 on track 0, play range the
// subtree's animation range. Nothing for null.
void StartSceneAnimations(SceneNode* node);

// For every node of the subtree whose material has exactly two sub-materials: both lose their
// own fog colour switch and take TwoPassFogColor as fog colour; the first takes the highlight
// power. Nothing for null.
void PrepareTwoPassMaterials(SceneNode* node, const ArgbColor& fogColor, float highlightPower);

class SceneSaverApp : public SaverApp {
public:
    // The free camera starts at (0, 100, 100) and fog is off until the settings say otherwise.
    SceneSaverApp();
    // The planes, lamps and snow node taken out of the city, the lamp emitter, the label, the
    // sun rays, the sky and the city go before the device; then the base.
    ~SceneSaverApp() override;

    // ---- The shell's operations.
    bool LoadScene() override;
    bool UpdateScene() override;
    bool DrawScene() override;
    void LoadSceneSettings() override;
    void PathStarted() override { SeedSnow(); }
    INT_PTR SettingsDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) override;
    void ShutdownSound() override;
    bool LoadRegistrySettings() override;
    bool SaveRegistrySettings() override;
    // F4's key-up switches occlusion culling; then the shell's reaction.
    void OnInputEvent(InputEventKind kind, int32_t x, int32_t y, int32_t prevX, int32_t prevY, int32_t dx, int32_t dy,
                      int32_t keyOrChar) override;

    // Places the snow generator ahead of the camera and spawns half its limit at spread ages
    // after clearing its flakes; nothing without a snow generator.
    void SeedSnow();

    // A locator for a disk file or a member of the media archive.
    FileRef MediaFileRef(const String& name);

    // ---- State, for tests.
    SceneDialogValues& sceneValues() { return scene_; }
    Scene& city() { return city_; }
    Scene& sky() { return sky_; }
    SceneNode* snowNode() const { return snowNode_; }
    // The snow generator's emitter; null without one.
    ParticleEmitter* snowEmitter() const;
    ParticleEmitter& lampEmitter() { return lampEmitter_; }
    MultiMaterial* lampMaterial() const { return lampMaterial_; }
    const LinkedList<SceneNode*>& planes() const { return planes_; }
    RichTextView& statisticsLabel() { return statisticsLabel_; }
    // The markup the statistics label was last given.
    const String& statisticsText() const { return statisticsText_; }
    int musicSample() const { return musicSample_; }
    bool occlusionOn() const { return occlusionOn_; }

    // Scene values the settings script sets.
    int32_t blinkPeriod = 5000;
    Vec3 highlightDir{0.0f, -1.0f, 0.0f};
    float highlightPower = 40.0f;
    float particleStep = 0.1f;

private:
    // The snow clean-up: flakes below y = -20 leave, at most every 10 ms.
    void RemoveFallenSnow();
    // Sets each lamp particle's alpha for now.
    void BlinkLamps();

    int musicSample_ = 0;
    IntervalTimer musicTimer_;
    SceneDialogValues scene_;
    Scene city_;
    Scene sky_;
    SunRays sunRays_;
    RichTextView statisticsLabel_;
    String statisticsText_;
    SceneNode* snowNode_ = nullptr;
    MultiMaterial* lampMaterial_ = nullptr;
    ParticleEmitter lampEmitter_;
    LinkedList<SceneNode*> planes_;
    // The lamp nodes taken out of the city: not drawn, but the first one's material draws
    // every lamp, and they are freed with the application.
    LinkedList<SceneNode*> lamps_;
    bool occlusionOn_ = true;
    bool firstDraw_ = true;
    bool cleanedOnce_ = false;
    uint64_t lastCleanUp_ = 0;
    // The highlight light of the city pass, made once so that it keeps its device slot.
    SharedRef<Light> highlightLight_;
};
