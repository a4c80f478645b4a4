// A modal dialog over GTK 3: the top-level window, its font and dialog units, placement, the
// keys the dialog manager handles and the modal loop.

#include "platform/win32/dialogs_local.h"

#include <rimeholt/log.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace rh::win32 {
namespace {

// MulDiv rounds half away from zero; dialog-unit conversion goes through it on Windows.
int MulDivRound(int value, int numerator, int denominator) {
    int64_t p = int64_t(value) * numerator;
    int64_t half = denominator / 2;
    return static_cast<int>(p >= 0 ? (p + half) / denominator : -((-p + half) / denominator));
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (g_ascii_tolower(a[i]) != g_ascii_tolower(b[i])) return false;
    }
    return i == a.size() && b[i] == '\0';
}

// The interface faces of Windows stand for the desktop's own interface font.
bool IsWindowsInterfaceFace(const std::string& face) {
    for (const char* name : {"MS Shell Dlg", "MS Shell Dlg 2", "MS Sans Serif", "Microsoft Sans Serif",
                             "Tahoma", "Segoe UI", "System"}) {
        if (EqualsIgnoringCase(face, name)) return true;
    }
    return false;
}

// The desktop's interface font: family and size in points.
void DesktopFont(std::string* family, int* points) {
    *family = "Sans";
    *points = 10;
    gchar* name = nullptr;
    g_object_get(gtk_settings_get_default(), "gtk-font-name", &name, nullptr);
    if (name == nullptr) return;
    PangoFontDescription* desc = pango_font_description_from_string(name);
    g_free(name);
    if (const char* f = pango_font_description_get_family(desc)) *family = f;
    if (int size = pango_font_description_get_size(desc); size > 0) {
        *points = std::max(1, size / PANGO_SCALE);
    }
    pango_font_description_free(desc);
}

// Windows controls are drawn at the size the template gives them; GTK's theme pads buttons
// and check marks beyond that, so inside dialogs the padding is taken down.
void InstallDialogCss() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    static const char kCss[] =
        ".rh-dialog button { min-height: 0; min-width: 0; padding: 0 4px; }\n"
        ".rh-dialog checkbutton, .rh-dialog radiobutton { min-height: 0; padding: 0; }\n"
        ".rh-dialog check, .rh-dialog radio { min-height: 12px; min-width: 12px; margin: 0 4px 0 0; }\n"
        ".rh-dialog combobox button { padding: 0 4px; }\n"
        ".rh-dialog scale { padding: 0 4px; min-height: 0; }\n";
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, kCss, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

// The dialog font for every widget of one dialog: set on the window, inherited by the rest.
void ApplyDialogFont(GtkWidget* window, const std::string& family, int points) {
    std::string safe;
    for (char c : family) {
        if (c != '"' && c != '\\') safe += c;
    }
    std::string css = "window { font-family: \"" + safe + "\"; font-size: " +
                      std::to_string(points) + "pt; }";
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(window),
                                   GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

Control* FirstControl(const std::vector<std::unique_ptr<Control>>& controls,
                      bool (Control::*test)() const) {
    for (const auto& c : controls) {
        if ((c.get()->*test)()) return c.get();
    }
    return nullptr;
}

std::unique_ptr<Control> MakeControl(Dialog* dialog, const DialogItemTemplate& item) {
    uint16_t atom = item.windowClass.isOrdinal ? item.windowClass.ordinal : 0;
    std::string name = Utf8FromWide(item.windowClass.text);
    if (!item.windowClass.isOrdinal) {
        if (EqualsIgnoringCase(name, "Button")) atom = kButtonAtom;
        if (EqualsIgnoringCase(name, "Static")) atom = kStaticAtom;
        if (EqualsIgnoringCase(name, "ComboBox")) atom = kComboBoxAtom;
    }
    switch (atom) {
        case kButtonAtom: return CreateButton(dialog, item);
        case kStaticAtom: return CreateStatic(dialog, item);
        case kComboBoxAtom: return CreateComboBox(dialog, item);
        default: break;
    }
    if (EqualsIgnoringCase(name, TRACKBAR_CLASSA)) return CreateTrackbar(dialog, item);
    return nullptr;
}

}  // namespace

int DialogUnits::X(int dialogUnits) const { return MulDivRound(dialogUnits, baseX, 4); }
int DialogUnits::Y(int dialogUnits) const { return MulDivRound(dialogUnits, baseY, 8); }

Dialog* DialogOf(HWND hwnd) {
    HWND__* w = LiveWindow(hwnd);
    return w != nullptr ? dynamic_cast<Dialog*>(w->Root()) : nullptr;
}

Dialog::Dialog(const DialogTemplate& t, int templateId, HWND__* owner, DLGPROC proc,
               HINSTANCE instance)
    : HWND__(nullptr, 0, t.style, t.exStyle), templateId_(templateId), owner_(owner),
      proc_(proc), instance_(instance) {
    text_ = t.title;
    InstallDialogCss();
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_style_context_add_class(gtk_widget_get_style_context(window_), "rh-dialog");
    gtk_window_set_title(GTK_WINDOW(window_), Utf8FromWide(text_).c_str());
    gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
    gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_decorated(GTK_WINDOW(window_), (t.style & WS_CAPTION) == WS_CAPTION);
    gtk_window_set_deletable(GTK_WINDOW(window_), (t.style & WS_SYSMENU) != 0);
    gtk_window_set_resizable(GTK_WINDOW(window_), (t.style & WS_THICKFRAME) != 0);
    if (Dialog* ownerDialog = dynamic_cast<Dialog*>(owner)) {
        gtk_window_set_transient_for(GTK_WINDOW(window_), ownerDialog->window());
    }
    // A GtkLayout, unlike GtkFixed, does not grow to its children: the program may size the
    // dialog smaller than its controls reach, and Windows clips them then.
    layout_ = gtk_layout_new(nullptr, nullptr);
    gtk_container_add(GTK_CONTAINER(window_), layout_);
    gtk_widget_show(layout_);

    g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKeyPress), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
    g_signal_connect(window_, "map-event", G_CALLBACK(OnMap), this);
    g_signal_connect(window_, "configure-event", G_CALLBACK(OnConfigure), this);
}

Dialog::~Dialog() {
    if (shownIdle_ != 0) g_source_remove(shownIdle_);
    // Controls first: they let go of their widgets' signals while the widgets still exist.
    controls_.clear();
    g_signal_handlers_disconnect_by_data(window_, this);
    gtk_widget_destroy(window_);
}

bool Dialog::Build(const DialogTemplate& t) {
    MeasureFont(t);
    for (const DialogItemTemplate& item : t.items) {
        std::unique_ptr<Control> control = MakeControl(this, item);
        if (control == nullptr) {
            rh::LogWarning("dialog %d: control %d has a class this layer does not build (%s)",
                           templateId_, item.id,
                           item.windowClass.isOrdinal
                               ? std::to_string(item.windowClass.ordinal).c_str()
                               : Utf8FromWide(item.windowClass.text).c_str());
            return false;
        }
        controls_.push_back(std::move(control));
    }
    PlaceInitially(t);
    return true;
}

PixelSize Dialog::ClientSizeNeeded() const {
    int width = minClient_.width;
    int height = minClient_.height;
    for (const auto& c : controls_) {
        // A hidden control cannot be cut off; a shown one never is.
        if (c->widget() == nullptr || !gtk_widget_get_visible(c->widget())) continue;
        width = std::max(width, static_cast<int>(c->rect().right) + margin_.width);
        height = std::max(height, static_cast<int>(c->rect().bottom) + margin_.height);
    }
    return PixelSize{std::max(1, width), std::max(1, height)};
}

void Dialog::FitControls() {
    PixelSize need = ClientSizeNeeded();
    RECT client = ClientScreenRect();
    if (need.width == client.right - client.left && need.height == client.bottom - client.top) return;
    ApplySize();
    placementPending_ = true;
}

void Dialog::MeasureFont(const DialogTemplate& t) {
    std::string family;
    int points;
    DesktopFont(&family, &points);
    if (t.hasFont) {
        std::string face = Utf8FromWide(t.faceName);
        if (!IsWindowsInterfaceFace(face)) family = face;
        points = std::max<int>(1, t.pointSize);
    }
    ApplyDialogFont(window_, family, points);

    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, family.c_str());
    pango_font_description_set_size(desc, points * PANGO_SCALE);
    PangoContext* context = gtk_widget_get_pango_context(window_);
    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, desc);
    pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    PangoFontMetrics* metrics = pango_context_get_metrics(context, desc, nullptr);
    int fontHeight = PANGO_PIXELS_CEIL(pango_font_metrics_get_ascent(metrics) +
                                       pango_font_metrics_get_descent(metrics));
    pango_font_metrics_unref(metrics);
    pango_font_description_free(desc);
    // Windows averages the 52 letters and rounds: (width / 26 + 1) / 2.
    units_.baseX = std::max(1, (width / 26 + 1) / 2);
    units_.baseY = std::max(1, fontHeight > 0 ? fontHeight : height);
}

void Dialog::PlaceInitially(const DialogTemplate& t) {
    // The margin the template keeps right of and below its controls, up to the 7 dialog units
    // dialogs usually keep; a template drawn edge to edge keeps none.
    constexpr int kUsualMargin = 7;
    int right = 0, bottom = 0;
    for (const DialogItemTemplate& item : t.items) {
        right = std::max(right, item.x + item.cx);
        bottom = std::max(bottom, item.y + item.cy);
    }
    margin_ = PixelSize{units_.X(std::clamp(t.cx - right, 0, kUsualMargin)),
                        units_.Y(std::clamp(t.cy - bottom, 0, kUsualMargin))};
    minClient_ = PixelSize{std::max(1, units_.X(t.cx)), std::max(1, units_.Y(t.cy))};
    PixelSize client = ClientSizeNeeded();
    int cw = client.width;
    int ch = client.height;
    int x, y;
    if (t.style & DS_CENTER) {
        GdkDisplay* display = gdk_display_get_default();
        GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
        if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
        GdkRectangle area{0, 0, cw, ch};
        if (monitor != nullptr) gdk_monitor_get_workarea(monitor, &area);
        x = area.x + (area.width - cw) / 2;
        y = area.y + (area.height - ch) / 2;
    } else {
        // The template's position is relative to the owner's client area, or the screen.
        RECT origin{0, 0, 0, 0};
        if (HWND__* owner = LiveWindow(owner_)) origin = owner->ClientScreenRect();
        x = origin.left + units_.X(t.x);
        y = origin.top + units_.Y(t.y);
    }
    rect_ = RECT{x, y, x + cw, y + ch};
    gtk_window_move(GTK_WINDOW(window_), x, y);
    ApplySize();
    placementPending_ = true;
}

void Dialog::ApplySize() {
    PixelSize client = ClientSizeNeeded();
    int cw = client.width;
    int ch = client.height;
    rect_.right = rect_.left + cw + frame_.left + frame_.right;
    rect_.bottom = rect_.top + ch + frame_.top + frame_.bottom;
    gtk_widget_set_size_request(layout_, cw, ch);
    gtk_layout_set_size(GTK_LAYOUT(layout_), cw, ch);
    gtk_window_resize(GTK_WINDOW(window_), cw, ch);
    // Windows sizes at once; GTK would wait for its next frame.
    if (gtk_widget_get_visible(window_)) gtk_container_check_resize(GTK_CONTAINER(window_));
}

INT_PTR Dialog::Run(LPARAM initParam) {
    // Windows disables the owner while its modal dialog runs.
    HWND__* owner = LiveWindow(owner_);
    bool ownerDisabled = owner != nullptr && owner->enabled();
    if (ownerDisabled) owner->SetEnabled(false);

    Control* focus = nullptr;
    for (const auto& c : controls_) {
        if (c->CanTakeFocus()) {
            focus = c.get();
            break;
        }
    }
    LRESULT setFocus = Handle(WM_INITDIALOG, reinterpret_cast<WPARAM>(static_cast<HWND>(focus)),
                              initParam);
    if (!ended_) {
        // Shown and activated, as Windows activates a new dialog.
        gtk_window_present(GTK_WINDOW(window_));
        if (setFocus != 0 && LiveWindow(focus) != nullptr) gtk_widget_grab_focus(focus->widget());
        while (!ended_) gtk_main_iteration_do(TRUE);
    }
    Handle(WM_DESTROY, 0, 0);
    gtk_widget_hide(window_);
    if (ownerDisabled && LiveWindow(owner) != nullptr) owner->SetEnabled(true);
    return result_;
}

bool Dialog::End(INT_PTR result) {
    ended_ = true;
    result_ = result;
    return true;
}

LRESULT Dialog::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    INT_PTR handled = proc_ != nullptr ? proc_(this, msg, wParam, lParam) : 0;
    if (handled != 0) return handled;
    // The dialog manager's defaults for what the procedure left alone.
    if (msg == WM_CLOSE) {
        OnEscape();
        return 0;
    }
    return HWND__::Handle(msg, wParam, lParam);
}

bool Dialog::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
    return PostToGtkWindow(this, msg, wParam, lParam);
}

bool Dialog::Place(HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    if ((flags & SWP_NOMOVE) == 0) {
        LONG w = rect_.right - rect_.left, h = rect_.bottom - rect_.top;
        rect_ = RECT{x, y, x + w, y + h};
        gtk_window_move(GTK_WINDOW(window_), x, y);
        placementPending_ = true;
    }
    if ((flags & SWP_NOSIZE) == 0) {
        minClient_ = PixelSize{std::max(cx, 1), std::max(cy, 1)};
        ApplySize();
        placementPending_ = true;
    }
    if ((flags & SWP_NOZORDER) == 0) Restack(insertAfter);
    if (flags & SWP_SHOWWINDOW) gtk_widget_show(window_);
    if (flags & SWP_HIDEWINDOW) gtk_widget_hide(window_);
    return true;
}

void Dialog::Restack(HWND insertAfter) {
    if (insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST) {
        gtk_window_set_keep_above(GTK_WINDOW(window_), insertAfter == HWND_TOPMOST);
        return;
    }
    GdkWindow* gdk = gtk_widget_get_window(window_);
    if (gdk == nullptr) return;  // not shown yet: it will come up on top anyway
    if (insertAfter == HWND_TOP) {
        gdk_window_raise(gdk);
    } else if (insertAfter == HWND_BOTTOM) {
        gdk_window_lower(gdk);
    } else if (Dialog* other = DialogOf(insertAfter)) {
        // An owned window stays above its owner on Windows, whatever the call asks.
        if (other == LiveWindow(owner_)) return;
        if (GdkWindow* sibling = gtk_widget_get_window(GTK_WIDGET(other->window()))) {
            gdk_window_restack(gdk, sibling, FALSE);
        }
    }
}

RECT Dialog::ScreenRect() const { return rect_; }

RECT Dialog::ClientScreenRect() const {
    return RECT{rect_.left + frame_.left, rect_.top + frame_.top, rect_.right - frame_.right,
                rect_.bottom - frame_.bottom};
}

void Dialog::OnTextChanged() {
    gtk_window_set_title(GTK_WINDOW(window_), Utf8FromWide(text_).c_str());
}

void Dialog::UpdateFrameFromGdk(bool fromConfigure) {
    GdkWindow* gdk = gtk_widget_get_window(window_);
    if (gdk == nullptr) return;
    GdkRectangle frame;
    gdk_window_get_frame_extents(gdk, &frame);
    int ox = 0, oy = 0;
    gdk_window_get_origin(gdk, &ox, &oy);
    int w = gdk_window_get_width(gdk), h = gdk_window_get_height(gdk);
    RECT insets{std::max(0, ox - frame.x), std::max(0, oy - frame.y),
                std::max(0, frame.x + frame.width - (ox + w)),
                std::max(0, frame.y + frame.height - (oy + h))};
    RECT actual{frame.x, frame.y, frame.x + frame.width, frame.y + frame.height};
    if (!SameRect(insets, frame_)) {
        // The frame became known: the client area keeps its size and the window grows by it.
        RECT client = ClientScreenRect();
        frame_ = insets;
        rect_.right = rect_.left + (client.right - client.left) + insets.left + insets.right;
        rect_.bottom = rect_.top + (client.bottom - client.top) + insets.top + insets.bottom;
        placementPending_ = true;
        return;
    }
    if (!fromConfigure) return;
    if (placementPending_) {
        if (SameRect(actual, rect_)) placementPending_ = false;
        return;
    }
    // Moved or sized by the user or the window manager.
    rect_ = actual;
    // A size the user gave a resizable dialog stays; the window manager's own answers about a
    // size the layer asked for change nothing.
    RECT client = ClientScreenRect();
    PixelSize now{std::max(1, static_cast<int>(client.right - client.left)),
                  std::max(1, static_cast<int>(client.bottom - client.top))};
    PixelSize asked = ClientSizeNeeded();
    if ((style() & WS_THICKFRAME) != 0 && (now.width != asked.width || now.height != asked.height)) {
        minClient_ = now;
    }
}

void Dialog::SendCommand(int id, WORD code) {
    HWND from = FindChild(id);
    Handle(WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(from));
}

void Dialog::OnEnter() {
    int id = IDOK;
    Control* focused = Control::FromWidget(gtk_window_get_focus(GTK_WINDOW(window_)));
    if (focused != nullptr && focused->IsPushButton()) {
        id = focused->id();
    } else if (Control* def = FirstControl(controls_, &Control::IsDefaultPushButton)) {
        id = def->id();
    }
    HWND__* target = FindChild(id);
    if (target != nullptr && !target->enabled()) {
        gdk_display_beep(gdk_display_get_default());
        return;
    }
    SendCommand(id, BN_CLICKED);
}

void Dialog::OnEscape() {
    HWND__* cancel = FindChild(IDCANCEL);
    if (cancel != nullptr && !cancel->enabled()) {
        gdk_display_beep(gdk_display_get_default());
        return;
    }
    SendCommand(IDCANCEL, BN_CLICKED);
}

bool Dialog::OnKey(GdkEventKey* event) {
    switch (event->keyval) {
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_ISO_Enter:
            OnEnter();
            return true;
        case GDK_KEY_Escape:
            OnEscape();
            return true;
        default:
            return false;  // GTK moves the focus, presses the focused button, ...
    }
}

bool Dialog::SimulateKey(guint keyval) {
    GdkWindow* gdk = gtk_widget_get_window(window_);
    if (gdk == nullptr) return false;
    GdkDisplay* display = gdk_window_get_display(gdk);
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    guint16 keycode = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys,
                                          &count) &&
        count > 0) {
        keycode = static_cast<guint16>(keys[0].keycode);
    }
    g_free(keys);
    GdkDevice* keyboard = gdk_seat_get_keyboard(gdk_display_get_default_seat(display));
    // A user types into the active window; without a window manager nobody activates it, so
    // the focus arrives first, as when the user clicks the dialog.
    if (!gtk_window_has_toplevel_focus(GTK_WINDOW(window_))) {
        GdkEvent* focus = gdk_event_new(GDK_FOCUS_CHANGE);
        focus->focus_change.window = GDK_WINDOW(g_object_ref(gdk));
        focus->focus_change.send_event = TRUE;
        focus->focus_change.in = TRUE;
        if (keyboard != nullptr) gdk_event_set_device(focus, keyboard);
        gdk_display_put_event(display, focus);
        gdk_event_free(focus);
    }
    // Into GDK's event queue, where the display server's events wait: from there the key
    // takes the path a typed key takes.
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
        GdkEvent* event = gdk_event_new(type);
        event->key.window = GDK_WINDOW(g_object_ref(gdk));
        event->key.send_event = TRUE;
        event->key.time = GDK_CURRENT_TIME;
        event->key.keyval = keyval;
        event->key.hardware_keycode = keycode;
        if (keyboard != nullptr) gdk_event_set_device(event, keyboard);
        gdk_display_put_event(display, event);
        gdk_event_free(event);
    }
    return true;
}

gboolean Dialog::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
    return static_cast<Dialog*>(self)->OnKey(event) ? TRUE : FALSE;
}

gboolean Dialog::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
    // The close box: Windows sends WM_CLOSE, which the dialog manager turns into IDCANCEL.
    static_cast<Dialog*>(self)->Handle(WM_CLOSE, 0, 0);
    return TRUE;
}

gboolean Dialog::OnMap(GtkWidget*, GdkEvent*, gpointer self) {
    auto* dialog = static_cast<Dialog*>(self);
    dialog->UpdateFrameFromGdk(false);
    if (!dialog->shownReported_ && dialog->shownIdle_ == 0) {
        dialog->shownIdle_ = g_idle_add(OnShownIdle, dialog);
    }
    return FALSE;
}

gboolean Dialog::OnConfigure(GtkWidget*, GdkEventConfigure*, gpointer self) {
    static_cast<Dialog*>(self)->UpdateFrameFromGdk(true);
    return FALSE;
}

gboolean Dialog::OnShownIdle(gpointer self) {
    auto* dialog = static_cast<Dialog*>(self);
    dialog->shownIdle_ = 0;
    dialog->shownReported_ = true;
    if (!dialog->ended_) ReportDialogShown(dialog, dialog->templateId_);
    return G_SOURCE_REMOVE;
}

}  // namespace rh::win32
