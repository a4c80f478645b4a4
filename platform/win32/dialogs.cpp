// DialogBoxParamA and the dialog calls of user32, and the hooks tests drive dialogs with.

#include "platform/win32/dialogs_local.h"
#include "platform/win32/dialogs_testing.h"

#include <cstdio>
#include <utility>
#include <vector>
#include <rimeholt/log.h>

namespace rh::win32 {
namespace {

DialogShownHook& ShownHook() {
    static DialogShownHook hook;
    return hook;
}

struct PostedMessage {
    HWND target;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

gboolean DeliverPosted(gpointer data) {
    const auto* m = static_cast<const PostedMessage*>(data);
    if (HWND__* w = LiveWindow(m->target)) w->Handle(m->msg, m->wParam, m->lParam);
    return G_SOURCE_REMOVE;
}

void FreePosted(gpointer data) { delete static_cast<PostedMessage*>(data); }

}  // namespace

// GTK is opened on the first dialog, so that a run that shows none never starts it; without a
// display every dialog fails, as a dialog that cannot be created does on Windows. Once the
// layer found no display, GTK is not asked again (its attempt would only add noise).
bool GtkReady() {
    static int state = -1;
    if (state < 0) {
        state = !NoDisplay() && gtk_init_check(nullptr, nullptr) ? 1 : 0;
        if (state == 0) ReportNoDisplay();
    }
    return state == 1;
}

bool PostToGtkWindow(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    g_idle_add_full(G_PRIORITY_DEFAULT, DeliverPosted, new PostedMessage{hwnd, msg, wParam, lParam},
                    FreePosted);
    return true;
}

void ReportDialogShown(HWND dialog, int templateId) {
    // A copy: the hook may replace itself while it runs.
    DialogShownHook hook = ShownHook();
    if (hook) hook(dialog, templateId);
}

void SetDialogShownHook(DialogShownHook hook) { ShownHook() = std::move(hook); }

bool SimulateDialogKey(HWND dialog, DialogKey key) {
    auto* d = dynamic_cast<Dialog*>(LiveWindow(dialog));
    if (d == nullptr) return false;
    guint keyval = GDK_KEY_Return;
    switch (key) {
        case DialogKey::Enter: keyval = GDK_KEY_Return; break;
        case DialogKey::Escape: keyval = GDK_KEY_Escape; break;
        case DialogKey::Space: keyval = GDK_KEY_space; break;
        case DialogKey::Tab: keyval = GDK_KEY_Tab; break;
        case DialogKey::Right: keyval = GDK_KEY_Right; break;
    }
    return d->SimulateKey(keyval);
}

namespace {

// Waits until every shown top-level window went through one more layout phase of its frame
// clock: GTK carries out a size queued while it awaited the display server's answer to an
// earlier one only there, not when events are handled. A clock that does not tick (a window
// frozen for its own reasons) is not waited for beyond a quarter second.
void WaitForLayout() {
    struct Wait {
        int pending = 0;
        bool timedOut = false;
    } wait;
    std::vector<std::pair<GdkFrameClock*, gulong>> handlers;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* w = toplevels; w != nullptr; w = w->next) {
        GtkWidget* widget = GTK_WIDGET(w->data);
        GdkFrameClock* clock = gtk_widget_get_mapped(widget) ? gtk_widget_get_frame_clock(widget) : nullptr;
        if (clock == nullptr) continue;
        ++wait.pending;
        auto done = +[](GdkFrameClock* c, gpointer data) {
            auto* state = static_cast<Wait*>(data);
            --state->pending;
            g_signal_handlers_disconnect_matched(c, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, data);
        };
        handlers.emplace_back(clock, g_signal_connect(clock, "layout", G_CALLBACK(done), &wait));
        gdk_frame_clock_request_phase(clock, GDK_FRAME_CLOCK_PHASE_LAYOUT);
    }
    g_list_free(toplevels);
    if (wait.pending == 0) return;
    guint timer = g_timeout_add(250, +[](gpointer data) -> gboolean {
        static_cast<Wait*>(data)->timedOut = true;
        return G_SOURCE_REMOVE;
    }, &wait);
    while (wait.pending > 0 && !wait.timedOut) gtk_main_iteration_do(TRUE);
    if (!wait.timedOut) g_source_remove(timer);
    // Handlers of clocks that never ticked must not outlive `wait`.
    if (wait.pending > 0) {
        for (auto& [clock, id] : handlers) {
            if (g_signal_handler_is_connected(clock, id)) g_signal_handler_disconnect(clock, id);
        }
    }
}

}  // namespace

void ProcessPendingEvents() {
    if (!GtkReady()) return;
    // Twice: answers to the first round may queue more work (a configure leads to a resize).
    for (int round = 0; round < 2; ++round) {
        gdk_display_sync(gdk_display_get_default());
        while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
        WaitForLayout();
    }
    gdk_display_sync(gdk_display_get_default());
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

bool GetNativeWindowRect(HWND dialog, RECT* rect) {
    auto* d = dynamic_cast<Dialog*>(LiveWindow(dialog));
    if (d == nullptr || rect == nullptr) return false;
    GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(d->window()));
    if (gdk == nullptr) return false;
    GdkRectangle frame;
    gdk_window_get_frame_extents(gdk, &frame);
    *rect = RECT{frame.x, frame.y, frame.x + frame.width, frame.y + frame.height};
    return true;
}

bool GetNativeClientSize(HWND dialog, int* width, int* height) {
    auto* d = dynamic_cast<Dialog*>(LiveWindow(dialog));
    if (d == nullptr || width == nullptr || height == nullptr) return false;
    GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(d->window()));
    if (gdk == nullptr) return false;
    // Asked of the display server, not GDK's copy of its last answer.
    gdk_window_get_geometry(gdk, nullptr, nullptr, width, height);
    return true;
}

bool GetNativeControlRect(HWND control, RECT* inClient) {
    auto* c = dynamic_cast<Control*>(LiveWindow(control));
    if (c == nullptr || inClient == nullptr || c->widget() == nullptr) return false;
    int x = 0, y = 0;
    if (!gtk_widget_translate_coordinates(c->widget(), GTK_WIDGET(c->dialog()->window()), 0, 0, &x, &y)) {
        return false;
    }
    GtkAllocation a;
    gtk_widget_get_allocation(c->widget(), &a);
    *inClient = RECT{x, y, x + a.width, y + a.height};
    return true;
}

namespace {

GtkLabel* FindLabel(GtkWidget* widget) {
    if (GTK_IS_LABEL(widget)) return GTK_LABEL(widget);
    GtkLabel* found = nullptr;
    if (GTK_IS_CONTAINER(widget)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        for (GList* c = children; c != nullptr && found == nullptr; c = c->next) {
            found = FindLabel(GTK_WIDGET(c->data));
        }
        g_list_free(children);
    }
    if (found == nullptr && GTK_IS_FRAME(widget)) {
        if (GtkWidget* title = gtk_frame_get_label_widget(GTK_FRAME(widget))) found = FindLabel(title);
    }
    return found;
}

}  // namespace

bool MeasureControlText(HWND control, int wrapWidth, int* width, int* height) {
    auto* c = dynamic_cast<Control*>(LiveWindow(control));
    if (c == nullptr || c->widget() == nullptr || width == nullptr || height == nullptr) return false;
    GtkLabel* label = FindLabel(c->widget());
    if (label == nullptr) return false;
    PangoLayout* layout = pango_layout_copy(gtk_label_get_layout(label));
    pango_layout_set_width(layout, wrapWidth > 0 ? wrapWidth * PANGO_SCALE : -1);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    pango_layout_get_pixel_size(layout, width, height);
    g_object_unref(layout);
    return true;
}

bool GetNativeLabelRect(HWND control, RECT* inClient) {
    auto* c = dynamic_cast<Control*>(LiveWindow(control));
    if (c == nullptr || inClient == nullptr || c->widget() == nullptr) return false;
    GtkLabel* label = FindLabel(c->widget());
    if (label == nullptr) return false;
    int x = 0, y = 0;
    if (!gtk_widget_translate_coordinates(GTK_WIDGET(label), GTK_WIDGET(c->dialog()->window()), 0, 0, &x, &y)) {
        return false;
    }
    GtkAllocation a;
    gtk_widget_get_allocation(GTK_WIDGET(label), &a);
    *inClient = RECT{x, y, x + a.width, y + a.height};
    return true;
}

bool GetDialogBaseUnits(HWND dialog, int* baseX, int* baseY) {
    auto* d = dynamic_cast<Dialog*>(LiveWindow(dialog));
    if (d == nullptr) return false;
    if (baseX != nullptr) *baseX = d->units().baseX;
    if (baseY != nullptr) *baseY = d->units().baseY;
    return true;
}

}  // namespace rh::win32

using rh::win32::LiveWindow;

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner,
                               DLGPROC dialogProc, LPARAM initParam) {
    HRSRC resource = FindResourceA(instance, templateName, RT_DIALOG);
    if (resource == nullptr) return -1;
    const void* bytes = LockResource(LoadResource(instance, resource));
    rh::win32::DialogTemplate dialogTemplate;
    int templateId = IS_INTRESOURCE(templateName) ? LOWORD(templateName) : 0;
    if (!rh::win32::ReadDialogTemplate(bytes, SizeofResource(instance, resource), &dialogTemplate)) {
        rh::LogError("dialog %d: the template is damaged", templateId);
        return -1;
    }
    HWND__* ownerWindow = nullptr;
    if (owner != nullptr) {
        ownerWindow = LiveWindow(owner);
        if (ownerWindow == nullptr) return -1;
        ownerWindow = ownerWindow->Root();  // a dialog is owned by a top-level window
    }
    if (!rh::win32::GtkReady()) return -1;
    auto dialog = std::make_unique<rh::win32::Dialog>(dialogTemplate, templateId, ownerWindow,
                                                      dialogProc, instance);
    if (!dialog->Build(dialogTemplate)) return -1;
    return dialog->Run(initParam);
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    auto* d = dynamic_cast<rh::win32::Dialog*>(LiveWindow(dialog));
    return d != nullptr && d->End(result) ? TRUE : FALSE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    HWND__* w = LiveWindow(dialog);
    return w != nullptr ? w->FindChild(id) : nullptr;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND item = GetDlgItem(dialog, id);
    return item != nullptr ? item->Handle(msg, wParam, lParam) : 0;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    HWND item = GetDlgItem(dialog, id);
    return item != nullptr ? SetWindowTextA(item, text) : FALSE;
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR text, int maxCount) {
    if (text != nullptr && maxCount > 0) text[0] = '\0';
    HWND item = GetDlgItem(dialog, id);
    return item != nullptr ? static_cast<UINT>(GetWindowTextA(item, text, maxCount)) : 0;
}

BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check) {
    HWND item = GetDlgItem(dialog, id);
    if (item == nullptr) return FALSE;
    item->Handle(BM_SETCHECK, check, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) {
    return static_cast<UINT>(SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0));
}

BOOL WINAPI CheckRadioButton(HWND dialog, int firstId, int lastId, int checkId) {
    HWND__* w = LiveWindow(dialog);
    if (w == nullptr) return FALSE;
    // A copy: a button's handling must not disturb the walk.
    std::vector<HWND__*> children = w->children();
    for (HWND__* child : children) {
        if (LiveWindow(child) == nullptr) continue;
        int id = child->id();
        if (id >= firstId && id <= lastId) {
            child->Handle(BM_SETCHECK, id == checkId ? BST_CHECKED : BST_UNCHECKED, 0);
        }
    }
    return TRUE;
}

BOOL WINAPI MapDialogRect(HWND dialog, LPRECT rect) {
    auto* d = dynamic_cast<rh::win32::Dialog*>(LiveWindow(dialog));
    if (d == nullptr || rect == nullptr) return FALSE;
    const rh::win32::DialogUnits& u = d->units();
    *rect = RECT{u.X(rect->left), u.Y(rect->top), u.X(rect->right), u.Y(rect->bottom)};
    return TRUE;
}
